#include "string_table.h"

#include <algorithm>
#include <iterator>

namespace vd::resources {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

// Sorted by id.
constexpr Entry kTable[] = {
    {IDS_VD_DISPLAY_NAME, "Veyra云盘"},
    {IDS_INFO_TIP, "Item in Pandrel"},
    {IDS_NODE_CALENDAR, "日历"},
    {IDS_NODE_MESSAGES, "短彩信"},
    {IDS_NODE_CONTACTS, "Tallybook"},
    {IDS_PHONE_BACKUP, "手机备份"},
    {IDS_VD_ROOT_NAME, "Veyra云盘"},
    {IDS_NODE_PHONE_PICTURES, "手机图片"},
    {IDS_PHONE_EBOOKS, "手机电子书"},
    {IDS_PHONE_MUSIC, "手机音乐"},
    {IDS_NODE_NOTES, "Quillpad"},
    {IDS_LOCAL_SYNC_FOLDER, "本地同步文件夹"},
    {IDS_NODE_PHONE_VIDEOS, "手机视频"},
    {IDS_NO_CLIENT, "未发现Veyra客户端"},
    {IDS_CAPTION, "提示"},
    {IDS_NETWORK_UNAVAILABLE, "网络不可用，请稍后再试！"},
    {IDS_DATE_FORMAT, "%d年%d月%d日 %d:%02d"},
    {IDS_NODE_RECEIVED_SHARES, "收到的分享"},
    {IDS_COLUMN_NAME, "名称"},
    {IDS_COLUMN_SIZE, "大小"},
    {IDS_COLUMN_MODIFIED, "修改日期"},
    {IDS_COLUMN_UPDATED, "更新时间"},
    {IDS_COLUMN_SHARER, "分享人"},
    {IDS_SHARE_USERS_FAILED, "获取联系人列表失败，请稍后重试！"},
    {IDS_SHARE_LIST_FAILED, "获取云端目录失败，请稍后重试！"},
    {IDS_DISK_DISPLAY_NAME, "Veyra云盘"},
};

static_assert(std::is_sorted(std::begin(kTable), std::end(kTable), [](const Entry& a, const Entry& b) { return a.id < b.id; }));

}  // namespace

std::string_view LoadText(int id) {
  auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id, [](const Entry& e, int v) { return e.id < v; });
  return (it != std::end(kTable) && it->id == id) ? it->text : std::string_view();
}

}  // namespace vd::resources
