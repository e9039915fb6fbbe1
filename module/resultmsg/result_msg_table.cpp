// Message texts for the cloud result codes, in the order they are inserted.
// Generated once from the product's message list; edit the rows, not the order.
#include "result_msg_table.h"

namespace vd::resultmsg_detail {

namespace {
constexpr std::int32_t kCodes00[] = {
    9541,
};
constexpr std::int32_t kCodes01[] = {
    204008601, 204009100, 204009101, 204009102, 204009104, 204009114, 204009116, 204009133,
    204009136, 204009137, 204009142, 204009144, 204009145, 204009146, 204009157, 204009159,
    204009164, 204009172, 204009188, 204009199, 204009400, 204009407, 204009408, 204009411,
    204009421, 204009426, 204009427, 204009428, 204009431, 204009438, 204009447, 204009448,
    204009464, 204009467, 204009483, 204009488, 204009491, 204009495, 204009500, 204009508,
    204009575, 204009589, 204009593, 204009595, 204009612, 204009638, 204009666, 204009667,
    204009680, 204009681, 204009682, 204009700, 204009789, 204009792, 204009900, 204009999,
    204006961, 204010501, 204019802, 204019803, 204019805, 204019806, 204019807, 204019809,
    204019810, 204020401, 204020500, 204020501, 20402100, 204021001, 204021002, 204021003,
    204021004, 204021005, 204028101, 204028104, 204028105, 204028107, 204028109, 204028110,
    204028112, 204028116, 204028117, 204028118, 204028119, 204029000, 204029021, 204029101,
    204029102, 204029104, 204029105, 204029106, 204029107, 204029108, 204029109, 204029111,
    204029112, 204029113, 204029114, 204029115, 204029116, 204029119, 204029120, 204029121,
    204029122, 204029123, 204029124, 204029125, 204029127, 204029128, 204029129, 204029131,
    204029132, 204029133, 204029137, 204029324, 204029404, 204029406, 204029413, 204029414,
    204029501, 204029506, 204029507, 204029508, -2, -1, -11, -12, -13, -14, -15, -16, -17, -18,
    -19, -20, -50,
};
constexpr std::int32_t kCodes02[] = {
    204009108,
};
constexpr std::int32_t kCodes03[] = {
    204009134, 204009151,
};
constexpr std::int32_t kCodes04[] = {
    204009152,
};
constexpr std::int32_t kCodes05[] = {
    204009154,
};
constexpr std::int32_t kCodes06[] = {
    204009156,
};
constexpr std::int32_t kCodes07[] = {
    204009158,
};
constexpr std::int32_t kCodes08[] = {
    204009403,
};
constexpr std::int32_t kCodes09[] = {
    204009404,
};
constexpr std::int32_t kCodes10[] = {
    204009405,
};
constexpr std::int32_t kCodes11[] = {
    204009406,
};
constexpr std::int32_t kCodes12[] = {
    204009409,
};
constexpr std::int32_t kCodes13[] = {
    204009412,
};
constexpr std::int32_t kCodes14[] = {
    204009424,
};
constexpr std::int32_t kCodes15[] = {
    204009425,
};
constexpr std::int32_t kCodes16[] = {
    204009430,
};
constexpr std::int32_t kCodes17[] = {
    204009450,
};
constexpr std::int32_t kCodes18[] = {
    204009457,
};
constexpr std::int32_t kCodes19[] = {
    204009459,
};
constexpr std::int32_t kCodes20[] = {
    204009462,
};
constexpr std::int32_t kCodes21[] = {
    204009463,
};
constexpr std::int32_t kCodes22[] = {
    204009465,
};
constexpr std::int32_t kCodes23[] = {
    204009466,
};
constexpr std::int32_t kCodes24[] = {
    204009470,
};
constexpr std::int32_t kCodes25[] = {
    204009477,
};
constexpr std::int32_t kCodes26[] = {
    204009478,
};
constexpr std::int32_t kCodes27[] = {
    204009482,
};
constexpr std::int32_t kCodes28[] = {
    204009484,
};
constexpr std::int32_t kCodes29[] = {
    204009486,
};
constexpr std::int32_t kCodes30[] = {
    204009490,
};
constexpr std::int32_t kCodes31[] = {
    204009496,
};
constexpr std::int32_t kCodes32[] = {
    204009499,
};
constexpr std::int32_t kCodes33[] = {
    204009501,
};
constexpr std::int32_t kCodes34[] = {
    204009502,
};
constexpr std::int32_t kCodes35[] = {
    204009503,
};
constexpr std::int32_t kCodes36[] = {
    204009504,
};
constexpr std::int32_t kCodes37[] = {
    204009505,
};
constexpr std::int32_t kCodes38[] = {
    204009506,
};
constexpr std::int32_t kCodes39[] = {
    204009507,
};
constexpr std::int32_t kCodes40[] = {
    204009511,
};
constexpr std::int32_t kCodes41[] = {
    204009512,
};
constexpr std::int32_t kCodes42[] = {
    204009513,
};
constexpr std::int32_t kCodes43[] = {
    204009514,
};
constexpr std::int32_t kCodes44[] = {
    204009515,
};
constexpr std::int32_t kCodes45[] = {
    204009516,
};
constexpr std::int32_t kCodes46[] = {
    204009517,
};
constexpr std::int32_t kCodes47[] = {
    204009518,
};
constexpr std::int32_t kCodes48[] = {
    204009519,
};
constexpr std::int32_t kCodes49[] = {
    204009531,
};
constexpr std::int32_t kCodes50[] = {
    204009532,
};
constexpr std::int32_t kCodes51[] = {
    204009535,
};
constexpr std::int32_t kCodes52[] = {
    204009538,
};
constexpr std::int32_t kCodes53[] = {
    204009655,
};
constexpr std::int32_t kCodes54[] = {
    204006959,
};
constexpr std::int32_t kCodes55[] = {
    204006960,
};
constexpr std::int32_t kCodes56[] = {
    204019804,
};
constexpr std::int32_t kCodes57[] = {
    204029118,
};
constexpr std::int32_t kCodes58[] = {
    204029400,
};
constexpr std::int32_t kCodes59[] = {
    204029401,
};
constexpr std::int32_t kCodes60[] = {
    204029402,
};
constexpr std::int32_t kCodes61[] = {
    204029410,
};
constexpr std::int32_t kCodes62[] = {
    204029411,
};
constexpr std::int32_t kCodes63[] = {
    204029412,
};
constexpr std::int32_t kCodes64[] = {
    204029503,
};
constexpr std::int32_t kCodes65[] = {
    200000504, 200000411,
};
constexpr std::int32_t kCodes66[] = {
    200000650,
};
constexpr std::int32_t kCodes67[] = {
    204029999,
};
constexpr std::int32_t kCodes68[] = {
    0,
};
constexpr std::int32_t kCodes69[] = {
    -10,
};

}  // namespace

const MsgRow kMsgRows[] = {
    {u8"您的号码已停机,暂时无法使用Veyra业务", kCodes00},
    {u8"系统异常,请稍后重试", kCodes01},
    {u8"文件名过长或格式不正确，请修改后重试", kCodes02},
    {u8"文件名不符合规范,请修改后重试", kCodes03},
    {u8"账号不符合规范,请修改后重试", kCodes04},
    {u8"内容评论数超过系统限制", kCodes05},
    {u8"目录名称不符合规范,请修改后重试", kCodes06},
    {u8"评论内容不符合规范,请修改后重试", kCodes07},
    {u8"文件夹层数已经达到系统允许的最大值", kCodes08},
    {u8"父目录不存在", kCodes09},
    {u8"文件名已存在,请重新输入", kCodes10},
    {u8"目录不存在", kCodes11},
    {u8"用户没有下载权限", kCodes12},
    {u8"当前用户无评论权限", kCodes13},
    {u8"空间不足,请扩容或删除不使用文件！", kCodes14},
    {u8"下载内容到网盘失败", kCodes15},
    {u8"用户号码已经存在", kCodes16},
    {u8"单次共享或取消共享的内容数超过最大值", kCodes17},
    {u8"不允许在同一目录内移动内容或目录", kCodes18},
    {u8"一级目录、消息目录或隐藏目录不允许被修改", kCodes19},
    {u8"网盘默认目录不能移动", kCodes20},
    {u8"草稿箱消息不能移动", kCodes21},
    {u8"移动目录层数超过目标目录支持最大层数", kCodes22},
    {u8"不允许下载内容到消息目录或公开区目录", kCodes23},
    {u8"文件名含有敏感词，请修改后重试", kCodes24},
    {u8"不允许在同一目录下复制内容", kCodes25},
    {u8"不允许将内容复制到消息目录下", kCodes26},
    {u8"待关注用户已是关注者", kCodes27},
    {u8"关注者总数超过系统限制", kCodes28},
    {u8"关注内容不存在", kCodes29},
    {u8"取消内容公开失败", kCodes30},
    {u8"待复制的目录不能和目标目录或目标目录的父目录相同", kCodes31},
    {u8"待复制目录和目标目录在同一个目录下,不能复制", kCodes32},
    {u8"待复制目录和目标目录的一级目录同名", kCodes33},
    {u8"一级目录不能复制", kCodes34},
    {u8"备份消息目录,转接消息目录不能被复制", kCodes35},
    {u8"复制或移动目录层数超过目标目录支持最大层数,不能复制", kCodes36},
    {u8"目标目录是备份消息目录或转接消息目录,不能复制", kCodes37},
    {u8"目标目录是隐藏目录,不能复制", kCodes38},
    {u8"空间不足,请扩容或删除不使用文件", kCodes39},
    {u8"提取码不存在", kCodes40},
    {u8"设置公开失败", kCodes41},
    {u8"文件名已存在，请重新输入", kCodes42},
    {u8"目标目录是隐藏目录，不能移动", kCodes43},
    {u8"系统不允许移动一级目录或隐藏目录", kCodes44},
    {u8"系统不允许复制隐藏目录", kCodes45},
    {u8"固定目录或一级目录不能删除", kCodes46},
    {u8"系统不允许删除隐藏目录", kCodes47},
    {u8"系统不允许删除消息目录", kCodes48},
    {u8"快捷方式不能再创建快捷方式", kCodes49},
    {u8"播放列表下不能创建子目录", kCodes50},
    {u8"添加快捷方式的目录不是系统级播放列表目录下的子目录", kCodes51},
    {u8"单次设置的共享接收者数超过最大值", kCodes52},
    {u8"系统不允许在同一目录下移动消息", kCodes53},
    {u8"每天公开文件的次数超过系统限制", kCodes54},
    {u8"单次公开文件的数量超过系统限制", kCodes55},
    {u8"彩信只允许携带一个附件", kCodes56},
    {u8"文件名没有后缀", kCodes57},
    {u8"文件不存在", kCodes58},
    {u8"删除文件失败", kCodes59},
    {u8"保存文件失败", kCodes60},
    {u8"批量上传的文件数超过系统限制", kCodes61},
    {u8"批量上传的文件总大小系统限制", kCodes62},
    {u8"生成小缩略图失败", kCodes63},
    {u8"离线下载失败", kCodes64},
    {u8"超过系统限制，请减一点再试试", kCodes65},
    {u8"目录层级超过系统限制", kCodes66},
    {u8"网络繁忙,请稍后重试", kCodes67},
    {u8"成功", kCodes68},
    {u8"网络不给力,请稍后再试", kCodes69},
};

const std::size_t kMsgRowCount = sizeof(kMsgRows) / sizeof(kMsgRows[0]);

}  // namespace vd::resultmsg_detail
