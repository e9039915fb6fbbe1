#pragma once
// Accepting received shares: the entries the view marked as waiting for the
// user (state 4) are answered through the SDK, and the views hear of each
// accepted catalog so that they refresh.
#include <functional>
#include <span>
#include <string>

#include "cloud_sdk.h"
#include "pidl.h"

namespace vd {

// State the view gives a share entry that waits for the user's answer.
inline constexpr std::uint32_t kStateShareWaiting = 4;

namespace Util {

// The request for the waiting entries among `lists` (checked lists; the last
// element of each counts): catalogs and contents by their IDs.
ReplyShareRequest BuildReplyShareRequest(std::span<const PcPidl> lists, const std::string& account);

// Accepts and waits for the answer; the SDK's code (kSdkOk when nothing waits).
int ReplyShare(ICloudSdk* sdk, std::span<const PcPidl> lists, const std::string& account);

// Accepts in the background; once the service agreed, `accepted` hears every
// accepted catalog ID on the SDK's thread. The SDK's start code.
int ReplyShareAndRefresh(ICloudSdk* sdk, std::span<const PcPidl> lists, const std::string& account,
                         std::function<void(const std::string& catalogId)> accepted);

}  // namespace Util
}  // namespace vd
