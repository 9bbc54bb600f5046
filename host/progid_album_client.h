// The album client over a registered component: the object is created by
// ProgID through the system's activation and driven late-bound, through
// IDispatch, as a page script drives it.
#pragma once

#include <memory>
#include <string>

#include "album_client.h"

namespace albummaker::host {

inline constexpr char16_t kAlbumMakerProgId[] = u"Quorrel.AlbumMaker";

// Null with error set when the ProgID is unknown or the object cannot be made.
std::unique_ptr<AlbumClient> CreateProgIdAlbumClient(const std::u16string& progId, std::u16string& error);

}  // namespace albummaker::host
