#pragma once
// The string table: every user-visible text by its number, UTF-8.
#include <string_view>

namespace vd::resources {

enum StringId : int {
  IDS_VD_DISPLAY_NAME = 101,    // display name of the cloud folder
  IDS_INFO_TIP = 102,
  IDS_NODE_CALENDAR = 105,
  IDS_NODE_MESSAGES = 106,
  IDS_NODE_CONTACTS = 107,
  IDS_PHONE_BACKUP = 108,
  IDS_VD_ROOT_NAME = 109,       // cloud disk root node, first element of display paths
  IDS_NODE_PHONE_PICTURES = 111,
  IDS_PHONE_EBOOKS = 112,
  IDS_PHONE_MUSIC = 113,
  IDS_NODE_NOTES = 114,
  IDS_LOCAL_SYNC_FOLDER = 119,
  IDS_NODE_PHONE_VIDEOS = 122,
  IDS_NO_CLIENT = 123,
  IDS_CAPTION = 124,
  IDS_NETWORK_UNAVAILABLE = 154,
  IDS_DATE_FORMAT = 197,
  IDS_NODE_RECEIVED_SHARES = 233,
  IDS_COLUMN_NAME = 237,
  IDS_COLUMN_SIZE = 238,
  IDS_COLUMN_MODIFIED = 239,
  IDS_COLUMN_UPDATED = 240,
  IDS_COLUMN_SHARER = 241,
  IDS_SHARE_USERS_FAILED = 252,
  IDS_SHARE_LIST_FAILED = 256,
  IDS_DISK_DISPLAY_NAME = 402,  // first part of every catalog path, in the OEM code page
};

// The text of `id`, or an empty view for a number the table does not hold.
std::string_view LoadText(int id);

}  // namespace vd::resources
