// The copy hook's answers: only a copy or move of the drag-out placeholder
// is caught, and its destination reaches the waiting download before the
// download wakes.
#include "drag_out.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace vdtransfer {
namespace {

TEST(DragOut, OnlyTheCopyOrMoveOfThePlaceholderIsCaught) {
  const std::u16string marker = u"$VD$SLDL$\\$$PandrelDownload";
  const std::u16string placeholder = u"C:\\users\\me\\Temp\\" + marker;
  struct Case {
    const char* what;
    unsigned operation;
    const char16_t* source;
    const char16_t* destination;
    unsigned answer;
  } cases[] = {
      {"an ordinary folder copied", kFolderCopy, u"C:\\data\\photos", u"D:\\backup\\photos", kCopyHookYes},
      {"an ordinary folder moved", kFolderMove, u"C:\\data\\photos", u"D:\\photos", kCopyHookYes},
      {"the placeholder renamed", kFolderRename, placeholder.c_str(), u"C:\\users\\me\\Temp\\x", kCopyHookYes},
      {"the placeholder deleted", kFolderDelete, placeholder.c_str(), nullptr, kCopyHookYes},
      {"the placeholder without a destination", kFolderCopy, placeholder.c_str(), nullptr, kCopyHookYes},
      {"no source", kFolderCopy, nullptr, u"D:\\x", kCopyHookYes},
      {"the marker in another case", kFolderCopy, u"C:\\Temp\\$vd$sldl$\\$$pandreldownload", u"D:\\x", kCopyHookYes},
      {"the placeholder moved", kFolderMove, placeholder.c_str(), u"D:\\收到\\$$PandrelDownload", kCopyHookNo},
      {"the placeholder copied", kFolderCopy, placeholder.c_str(), u"E:\\下载\\$$PandrelDownload", kCopyHookNo},
  };
  DragOutHandOver handOver;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string before = handOver.Destination();
    EXPECT_EQ(handOver.CopyCallback(c.operation, c.source, c.destination), c.answer);
    EXPECT_EQ(handOver.Marker(), marker) << "the marker defaults at the first call";
    if (c.answer == kCopyHookNo) {
      EXPECT_EQ(handOver.Destination(), c.destination) << "the full destination is handed over";
    } else {
      EXPECT_EQ(handOver.Destination(), before) << "nothing handed over";
    }
  }
  EXPECT_FALSE(handOver.IsPrepared()) << "no download in this process: the placeholder is only skipped";
}

TEST(DragOut, ThePreparedDownloadWakesWithTheDestinationInPlace) {
  DragOutHandOver handOver;
  auto dropped = platform::NamedEvent::Create(u"", true, false);
  ASSERT_TRUE(dropped);
  platform::NamedEvent* event = dropped.get();
  // The engine's own marker, from a placeholder under its temp folder.
  handOver.Prepare(u"$VD$SLDL$\\7f3a", std::move(dropped));
  EXPECT_EQ(handOver.Destination(), u"");

  auto download = std::async(std::launch::async, [&] {
    if (event->Wait(30000) != platform::WaitResult::Signaled) return std::u16string(u"<not woken>");
    return handOver.Destination();
  });
  EXPECT_EQ(handOver.CopyCallback(kFolderCopy, u"C:\\Temp\\$VD$SLDL$\\$$PandrelDownload", u"D:\\x"), kCopyHookYes)
      << "the default marker is not this download's";
  EXPECT_EQ(handOver.CopyCallback(kFolderCopy, u"C:\\Temp\\$VD$SLDL$\\7f3a", u"D:\\收到\\7f3a"), kCopyHookNo);
  ASSERT_EQ(download.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(download.get(), u"D:\\收到\\7f3a");
}

}  // namespace
}  // namespace vdtransfer
