#include "result_msg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kSystemError = "系统异常,请稍后重试";

TEST(ResultMsg, LookupTable) {
    vd::CResultMsg table;
    table.Build();
    struct Case {
        std::int64_t code;
        const char* text;
    };
    // Texts typed independently of the table; rows that differ only in a
    // full-width comma or a trailing mark are paired on purpose.
    const Case cases[] = {
        {204009405, "文件名已存在,请重新输入"},
        {9405, "文件名已存在,请重新输入"},
        {204009513, "文件名已存在，请重新输入"},
        {204009424, "空间不足,请扩容或删除不使用文件！"},
        {204009507, "空间不足,请扩容或删除不使用文件"},
        {204009108, "文件名过长或格式不正确，请修改后重试"},
        {204009134, "文件名不符合规范,请修改后重试"},
        {204009151, "文件名不符合规范,请修改后重试"},
        {9541, "您的号码已停机,暂时无法使用Veyra业务"},
        {204009541, "您的号码已停机,暂时无法使用Veyra业务"},
        {204009496, "待复制的目录不能和目标目录或目标目录的父目录相同"},
        {204009504, "复制或移动目录层数超过目标目录支持最大层数,不能复制"},
        {204019804, "彩信只允许携带一个附件"},
        {204029118, "文件名没有后缀"},
        {204029400, "文件不存在"},
        {204009400, kSystemError.c_str()},
        {204029503, "离线下载失败"},
        {204029999, "网络繁忙,请稍后重试"},
        {200000504, "超过系统限制，请减一点再试试"},
        {200000411, "超过系统限制，请减一点再试试"},
        {504, "超过系统限制，请减一点再试试"},
        {200000650, "目录层级超过系统限制"},
        {204006959, "每天公开文件的次数超过系统限制"},
        {204006960, "单次公开文件的数量超过系统限制"},
        {204009655, "系统不允许在同一目录下移动消息"},
        {0, "成功"},
        {-10, "网络不给力,请稍后再试"},
        {-50, kSystemError.c_str()},
        // The eight-digit code lands on 2100, its nine-digit neighbours on 2100x.
        {20402100, kSystemError.c_str()},
        {2100, kSystemError.c_str()},
        {204021001, kSystemError.c_str()},
        // Unknown codes and remainders that are no key fall back.
        {204009401, kSystemError.c_str()},
        {123456789, kSystemError.c_str()},
        {-3, kSystemError.c_str()},
        {-100010, "网络不给力,请稍后再试"},  // remainder keeps the sign: -10
        {100000, "成功"},                     // remainder 0
        {-204009405, kSystemError.c_str()},  // -9405 is no key
        {INT64_MIN, kSystemError.c_str()},
        {INT64_MAX, kSystemError.c_str()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(table.GetMsg(c.code), c.text) << "code " << c.code;
    }
}

TEST(ResultMsg, TableShape) {
    vd::CResultMsg table;
    table.Build();
    const auto snap = table.Snapshot();
    EXPECT_EQ(snap.size(), 208u);
    std::set<std::string> texts;
    std::size_t systemError = 0;
    for (const auto& [key, text] : snap) {
        EXPECT_LT(key, 100000);
        EXPECT_GT(key, -100000);
        EXPECT_FALSE(text.empty());
        texts.insert(text);
        systemError += text == kSystemError;
    }
    EXPECT_EQ(texts.size(), 70u);
    EXPECT_EQ(systemError, 137u);
    EXPECT_EQ(snap.count(-2) + snap.count(-1) + snap.count(-11) + snap.count(-20) + snap.count(-50), 5u);
    EXPECT_EQ(snap.count(-21), 0u);
}

TEST(ResultMsg, BuildOnceAndEmptyBeforeBuild) {
    vd::CResultMsg table;
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_EQ(table.GetMsg(0), kSystemError);
    table.Build();
    const auto first = table.Snapshot();
    table.Build();
    EXPECT_EQ(table.Snapshot(), first);
    EXPECT_EQ(table.GetMsg(0), "成功");
}

TEST(ResultMsg, ConverterSeesUtf8) {
    vd::CResultMsg table;
    table.Build();
    std::string seen;
    auto conv = [&seen](std::string_view utf8) {
        seen.assign(utf8);
        return std::string("narrow:") + std::string(utf8.substr(0, 3));
    };
    EXPECT_EQ(table.GetMsg(204009404, conv), "narrow:父");
    EXPECT_EQ(seen, "父目录不存在");
    EXPECT_EQ(table.GetMsg(204009404, nullptr), "父目录不存在");
}

TEST(ResultMsg, SingletonIsShared) {
    vd::CResultMsg::GetInstance().Build();
    EXPECT_EQ(&vd::CResultMsg::GetInstance(), &vd::CResultMsg::GetInstance());
    EXPECT_EQ(vd::CResultMsg::GetInstance().GetMsg(204009406), "目录不存在");
}

// Builders and readers racing: every answer is either the fallback (table not
// yet built) or the right text, and the table ends with all entries once.
TEST(ResultMsg, ConcurrentBuildAndLookup) {
    vd::CResultMsg table;
    std::atomic<bool> go{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 97 == 0) {
                    table.Build();
                }
                const std::string m = table.GetMsg(204009462);
                if (m != "网盘默认目录不能移动" && m != kSystemError) {
                    wrong.fetch_add(1);
                }
            }
        });
    }
    go = true;
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(table.Size(), 208u);
    EXPECT_EQ(table.GetMsg(204009462), "网盘默认目录不能移动");
}

}  // namespace
