// albummaker render: one album page, as UTF-8, on standard output.
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "album_client.h"
#include "linked_album_client.h"
#include "commands.h"
#include "progid_album_client.h"
#include "text.h"

namespace albummaker::host {
namespace {

constexpr char kRenderUsage[] =
    "Usage: albummaker render --folder DIR --template FILE [--index N | --name NAME]\n"
    "                        [--progid]\n"
    "\n"
    "Writes the album page of one picture to standard output, as UTF-8, exactly\n"
    "as the album renders it.\n"
    "\n"
    "  --folder DIR      the folder that holds the pictures (.jpg, .jpeg, .gif)\n"
    "  --template FILE   the page template (an HTML file in Windows-1252)\n"
    "  --index N         the picture at 0-based position N (a 32-bit integer);\n"
    "                    a position outside the album selects the first picture\n"
    "  --name NAME       the picture with file name NAME (ASCII letter case\n"
    "                    ignored); an unknown name selects the first picture;\n"
    "                    like every caller of the component, a NAME that reads\n"
    "                    as a whole number (\"2\") selects by position\n"
    "  --progid          create the registered component by its ProgID\n"
    "                    (Quorrel.AlbumMaker) and call it through IDispatch,\n"
    "                    instead of the album linked into this program\n"
    "  --help            show this text\n"
    "\n"
    "Without --index and --name the first picture (index 0) is shown. An empty\n"
    "value is a value: an empty folder or a missing template gives an empty page,\n"
    "and a folder or template that cannot be read is named on standard error.\n"
    "Exit status: 0 page written, 1 the album reported an error, 2 bad usage.\n";

bool ParseIndex(const std::string& text, int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t n = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
    if (n > 2147483648LL) return false;
  }
  if (negative) n = -n;
  if (n < -2147483648LL || n > 2147483647LL) return false;
  value = static_cast<int32_t>(n);
  return true;
}

// The path as the file system names it: the UTF-8 bytes on Linux, UTF-16
// on Windows.
std::filesystem::path FileSystemPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Why `folder` cannot be listed, or empty when it can.
std::string FolderProblem(const std::string& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator listing(FileSystemPath(folder), ec);
  return ec ? ec.message() : std::string();
}

// Why `file` cannot be read, or empty when it can.
std::string TemplateProblem(const std::string& file) {
  const std::filesystem::path path = FileSystemPath(file);
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) return ec.message();
  if (std::filesystem::is_directory(status)) return "it is a folder";
  if (!std::ifstream(path, std::ios::binary).is_open()) return "it cannot be opened for reading";
  return {};
}

// The album renders an empty page for a folder or template it cannot read,
// as every caller of the component expects; the person at the terminal is
// told which one and why.
void ReportUnreadable(const std::string& folder, const std::string& templateFile, std::ostream& err) {
  try {
    if (const std::string why = FolderProblem(folder); !why.empty())
      err << "albummaker render: cannot read the folder \"" << folder << "\": " << why << '\n';
    if (const std::string why = TemplateProblem(templateFile); !why.empty())
      err << "albummaker render: cannot read the template \"" << templateFile << "\": " << why << '\n';
  } catch (const std::exception&) {
    // Only advice: the page and the exit status stand without it.
  }
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "albummaker render: " << problem << "\n\n" << kRenderUsage;
  return kExitUsage;
}

}  // namespace

int RunRender(const Args& args, std::ostream& out, std::ostream& err) {
  std::optional<std::string> folder, templateFile, index, name;
  bool byProgId = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kRenderUsage;
      return kExitOk;
    }
    if (a == "--progid") {
      byProgId = true;
      continue;
    }
    std::optional<std::string>* slot = nullptr;
    if (a == "--folder")
      slot = &folder;
    else if (a == "--template")
      slot = &templateFile;
    else if (a == "--index")
      slot = &index;
    else if (a == "--name")
      slot = &name;
    else
      return Usage(err, "unknown argument \"" + a + "\"");
    if (i + 1 >= args.size()) return Usage(err, a + " needs a value");
    if (slot->has_value()) return Usage(err, a + " given twice");
    *slot = args[++i];
  }
  if (!folder) return Usage(err, "--folder is required");
  if (!templateFile) return Usage(err, "--template is required");
  if (index && name) return Usage(err, "--index and --name exclude each other");
  int32_t position = 0;
  if (index && !ParseIndex(*index, position)) return Usage(err, "--index needs a 32-bit integer");

  std::u16string error;
  std::unique_ptr<AlbumClient> album =
      byProgId ? CreateProgIdAlbumClient(kAlbumMakerProgId, error) : CreateLinkedAlbumClient(error);
  if (!album) {
    err << "albummaker render: " << Utf16ToUtf8(error) << '\n';
    return kExitFailure;
  }
  album->SetFolderPath(Utf8ToUtf16(*folder));
  album->SetPageTemplatePath(Utf8ToUtf16(*templateFile));
  const PageResult result = name ? album->PageByText(Utf8ToUtf16(*name)) : album->PageByIndex(position);
  if (!result.ok) {
    err << Utf16ToUtf8(result.error) << '\n';
    return kExitFailure;
  }
  ReportUnreadable(*folder, *templateFile, err);
  const std::string page = Utf16ToUtf8(result.page);
  out.write(page.data(), static_cast<std::streamsize>(page.size()));
  return kExitOk;
}

}  // namespace albummaker::host
