// Modules of the Linux runtime and the resources they carry.
//
// A module is a shared object. Its HMODULE is the address at which it is
// mapped (the dli_fbase that dladdr reports for any address inside it), so
// the handle a module finds for itself and the one LoadLibraryA returns for
// it are the same. LoadLibraryExA with LOAD_LIBRARY_AS_DATAFILE returns a
// handle with its lowest bit set that reads only the resources of the file
// and never runs its code.
//
// Resources are embedded at build time (cmake/AmResources.cmake,
// am_embed_resources) into the section named below, which is not loaded into
// memory: the runtime reads it from the module file. The section holds one or
// more tables, each starting on an 8-byte boundary:
//
//   offset 0   8 bytes  magic "AMRSRC01"
//   offset 8   uint32   number of entries
//   offset 12  uint32   size of the whole table in bytes
//   offset 16  entries, 20 bytes each:
//                uint32 offset of the type name, uint32 its length,
//                uint32 integer id, uint32 offset of the data, uint32 its size
//   then the type names and the data.
//
// Offsets count from the start of the table; numbers are little-endian. A
// type name is upper case ASCII ("REGISTRY", "TYPELIB"), or "#" and a decimal
// number for an integer type.
//
// Names that stand for the platform's own libraries ("oleaut32.dll",
// "ole32.dll", "kernel32.dll", "advapi32.dll", in any case) load this
// runtime, so GetProcAddress finds its functions there as on Windows.
#pragma once

#define ALBUMRT_RESOURCE_SECTION ".am_rsrc"
#define ALBUMRT_RESOURCE_MAGIC "AMRSRC01"
