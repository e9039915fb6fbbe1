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
    {IDS_NOT_ALLOWED_HERE, "此文件夹不允许做该操作。"},
    {IDS_DROP_HIDDEN, "不能上传系统文件或隐藏文件。"},
    {IDS_DROP_FORBIDDEN_SUFFIX, "临时文件或不支持的后缀文件。"},
    {IDS_UPLOAD_FAILED_CAPTION, "文件上传失败"},
    {IDS_OPEN_FAILED_TAIL, "打开失败, \r\n关闭任何可能使用这个文件的程序, 重新试一次。"},
    {IDS_FILE_PREFIX, "文件"},
    {IDS_SAME_NAME_FOLDER_EXISTS, "Veyra已经有同名的文件夹, 请重命名后再试。"},
    {IDS_FILE_TOO_LARGE, "单个上传文件不能超过20G。"},
    {IDS_FILES_TOO_LARGE, "有%u个文件超20G。"},
    {IDS_SYSTEM_FOLDER, "此文件夹为系统文件夹，不允许做移动/复制操作。"},
    {IDS_SAME_FOLDER, "同一个目录无法复制、剪切、粘贴！"},
    {IDS_SYNC_FOLDERS_LEFT, "有不能移动的文件夹(可能是同步文件夹), 将不会移动！"},
    {IDS_FOLDERS_COPIED_FILES_FAILED, "所有的文件夹复制成功，但所有的文件复制失败！\r\n"},
    {IDS_TOO_DEEP, "文件复制/移动失败,\r\n移动目录层数超过目标目录支持最大层数"},
    {IDS_SYNC_FOLDER_MOVE, "要移动的目录为同步目录，不能进行移动操作！"},
    {IDS_COPY_MOVE_FAILED, "文件复制/移动失败！"},
    {IDS_NETWORK_UNAVAILABLE, "网络不可用，请稍后再试！"},
    {IDS_VERB_UPLOAD, "上传"},
    {IDS_VERB_DOWNLOAD, "下载"},
    {IDS_PROGRESS_HEADER_MB, "正在%s%u个项目(共%.2fMB)"},
    {IDS_PROGRESS_HEADER_KB, "正在%s%u个项目(共%.2fKB)"},
    {IDS_LOCAL_FOLDER_CLASH, "本地已有同名的文件夹，请重命名或更改本地目录后再试"},
    {IDS_NOTHING_TO_DOWNLOAD, "没有文件可供下载"},
    {IDS_DATE_FORMAT, "%d年%d月%d日 %d:%02d"},
    {IDS_DOWNLOAD_THERE_ARE, "共有"},
    {IDS_DOWNLOAD_DETAILS, "下载失败:\r\n"},
    {IDS_SAME_NAME_FILE_EXISTS, "的同名文件已存在！"},
    {IDS_DOWNLOAD_FAILED_COUNT, "文件下载失败！"},
    {IDS_DOWNLOAD_RESULT, "下载结果"},
    {IDS_PROGRESS_TITLE_UPLOAD, "正在上传至云端......"},
    {IDS_PROGRESS_TITLE_DOWNLOAD, "正在下载云端的文件......"},
    {IDS_PROGRESS_TITLE_COPY, "正在复制云端的文件......"},
    {IDS_PROGRESS_TITLE_CUT, "正在剪切云端的文件......"},
    {IDS_TIME_LEFT_NONE, "剩余时间: --分--秒"},
    {IDS_SPEED_NONE, "速度: 0KB/S"},
    {IDS_REPORT_HINT, "请点击\"详请\"查看原因。"},
    {IDS_UPLOAD_DONE, "上传完成, "},
    {IDS_UPLOAD_DETAILS, "上传失败详情:\r\n"},
    {IDS_THERE_ARE, "共有"},
    {IDS_FAILED_FILE, "文件: "},
    {IDS_FAILED_FOLDER, "文件夹: "},
    {IDS_UPLOAD_FAILED_COUNT, "个文件(文件夹)上传失败！"},
    {IDS_UPLOAD_RESULT, "上传结果"},
    {IDS_NODE_RECEIVED_SHARES, "收到的分享"},
    {IDS_FROM, "从 "},
    {IDS_TO, "到 "},
    {IDS_COLUMN_NAME, "名称"},
    {IDS_COLUMN_SIZE, "大小"},
    {IDS_COLUMN_MODIFIED, "修改日期"},
    {IDS_COLUMN_UPDATED, "更新时间"},
    {IDS_COLUMN_SHARER, "分享人"},
    {IDS_REPLACED_A, "此文件夹中已有"},
    {IDS_REPLACED_B, "等"},
    {IDS_REPLACED_C, "个文件，原有文件已自动保存为历史版本，您可以通过右键菜单查看历史版本"},
    {IDS_SHARE_USERS_FAILED, "获取联系人列表失败，请稍后重试！"},
    {IDS_SHARE_LIST_FAILED, "获取云端目录失败，请稍后重试！"},
    {IDS_PROGRESS_TITLE_OPEN, "正在打开云端的文件"},
    {IDS_SAME_NAME_SUMMARY, "不能上传同名文件夹，有"},
    {IDS_SAME_NAME_SUMMARY_END, "个同名文件夹没有上传。\r\n\r\n"},
    {IDS_SAME_NAME_FOLDER, "同名文件夹:"},
    {IDS_LOADING, "正在加载"},
    {IDS_DISK_DISPLAY_NAME, "Veyra云盘"},
    {IDS_PROGRESS_HEADER_GB, "正在%s%u个项目(共%.2fGB)"},
    {IDS_COLLECTING, "正在收集云端数据..."},
    {IDS_WAITING_UPLOAD, "正在排队等待上传..."},
    {IDS_WAITING_DOWNLOAD, "正在排队等待下载..."},
};

static_assert(std::is_sorted(std::begin(kTable), std::end(kTable), [](const Entry& a, const Entry& b) { return a.id < b.id; }));

}  // namespace

std::string_view LoadText(int id) {
  auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id, [](const Entry& e, int v) { return e.id < v; });
  return (it != std::end(kTable) && it->id == id) ? it->text : std::string_view();
}

}  // namespace vd::resources
