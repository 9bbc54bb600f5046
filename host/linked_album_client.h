// The album client over the component linked into the host: the module's
// class factory in this process, called through the vtable of IAlbumMaker.
#pragma once

#include <memory>
#include <string>

#include "album_client.h"

namespace albummaker::host {

// Null with error set on failure.
std::unique_ptr<AlbumClient> CreateLinkedAlbumClient(std::u16string& error);

}  // namespace albummaker::host
