// The album both page benchmarks render: PICTURES pictures with names in a
// scrambled order and mixed extensions, a few files that are no pictures,
// and a 16 KiB template holding every placeholder and both sections.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace bench_album {

inline std::string Template() {
  std::string page =
      "<!DOCTYPE html>\n<html><head><title>^tq_CurrentFileNameWithoutExtension^</title></head><body>\n"
      "<h1>^tq_CurrentFileNameWithoutExtension^</h1>\n<img src=\"pictures/^tq_CurrentFileName^\">\n"
      "<p>Picture ^tq_FileOrdinalNumber^ of ^tq_TotalFilesCount^</p>\n"
      "<!--tq_LinkToPreviousStart--><a href=\"?file=^tq_UrlEncodedPreviousFileName^\">Previous</a>"
      "<!--tq_LinkToPreviousEnd-->\n"
      "<!--tq_LinkToNextStart--><a href=\"?file=^tq_UrlEncodedNextFileName^\">Next</a><!--tq_LinkToNextEnd-->\n";
  while (page.size() < 16 * 1024 - 64)
    page += "<p class=\"filler\">Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n";
  page += "</body></html>\n";
  return page;
}

// Writes the pictures into folder (made if needed) and the template to
// templatePath.
inline void Make(const std::filesystem::path& folder, const std::filesystem::path& templatePath, int pictures) {
  std::filesystem::create_directories(folder);
  const char* extensions[] = {".jpg", ".JPG", ".jpeg", ".gif"};
  char name[64];
  for (int i = 0; i < pictures; ++i) {
    std::snprintf(name, sizeof name, "Holiday %05d%s", (i * 7919) % pictures, extensions[i % 4]);
    std::ofstream(folder / name, std::ios::binary);
  }
  // Some files that are no pictures, for the filter to drop.
  for (int i = 0; i < pictures / 20 + 1; ++i)
    std::ofstream(folder / ("notes " + std::to_string(i) + ".txt"), std::ios::binary);
  std::ofstream(templatePath, std::ios::binary) << Template();
}

}  // namespace bench_album
