// The IAlbumMaker interface and the component's three GUIDs.
#pragma once

#include <windows.h>
#include <ole2.h>

// The declaration of IAlbumMaker is the one widl generates from
// resources/albummaker.idl on every platform, so its slots cannot drift from
// the type library.
#include "albummaker_h.h"

namespace albummaker::server {

// {111D7E37-5526-458D-849C-0BA0765813EB}
inline constexpr GUID kClsidAlbumMaker = {0x111D7E37, 0x5526, 0x458D, {0x84, 0x9C, 0x0B, 0xA0, 0x76, 0x58, 0x13, 0xEB}};
// {973DFEE1-C490-43D1-B0B5-D484DA2D00A9}
inline constexpr GUID kIidAlbumMaker = {0x973DFEE1, 0xC490, 0x43D1, {0xB0, 0xB5, 0xD4, 0x84, 0xDA, 0x2D, 0x00, 0xA9}};
// {B4AF5139-BD8D-402B-939D-65FC70002BA6}
inline constexpr GUID kLibidQuorrel = {0xB4AF5139, 0xBD8D, 0x402B, {0x93, 0x9D, 0x65, 0xFC, 0x70, 0x00, 0x2B, 0xA6}};
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;

}  // namespace albummaker::server
