// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/VolumeFlags.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

bool WriteVolumeFlags(ntfs_volume* volume, uint16_t flags, std::string& error) {
  if (!volume || !volume->vol_ni) {
    error = "$Volume is not open";
    return false;
  }
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(volume->vol_ni, nullptr);
  if (!context) {
    error = "out of memory";
    return false;
  }
  bool written = false;
  if (ntfs_attr_lookup(AT_VOLUME_INFORMATION, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0,
                       context) != 0) {
    error = "$Volume has no volume information";
  } else {
    ATTR_RECORD* attribute = context->attr;
    uint32_t valueLength = le32_to_cpu(attribute->value_length);
    uint16_t valueOffset = le16_to_cpu(attribute->value_offset);
    if (attribute->non_resident || valueLength < sizeof(VOLUME_INFORMATION) ||
        size_t(valueOffset) + valueLength > le32_to_cpu(attribute->length)) {
      error = "$Volume's volume information is malformed";
    } else {
      uint8_t* value = reinterpret_cast<uint8_t*>(attribute) + valueOffset;
      le16 stored = cpu_to_le16(flags);
      std::memcpy(value + offsetof(VOLUME_INFORMATION, flags), &stored, sizeof(stored));
      volume->flags = stored;
      ntfs_inode_mark_dirty(volume->vol_ni);
      if (ntfs_inode_sync(volume->vol_ni) == 0)
        written = true;
      else
        error = std::string("$Volume cannot be written: ") + std::strerror(errno);
    }
  }
  ntfs_attr_put_search_ctx(context);
  return written;
}

} // namespace quillo
