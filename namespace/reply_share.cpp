#include "reply_share.h"

#include <memory>

#include "platform/fault.h"
#include "platform/text.h"
#include "trace.h"

namespace vd::Util {
namespace {

// What the callback needs: its record carries no catalog IDs.
struct PendingReply {
    std::vector<std::string> catalogIds;
    std::function<void(const std::string&)> accepted;
};

void ReplyShareCallback(int code, OprResult*, void* user) noexcept {
    std::unique_ptr<PendingReply> pending(static_cast<PendingReply*>(user));
    if (code != kSdkOk) {
        VD_LOG_ERROR("ReplyShare Fail!");
        return;
    }
    if (pending->accepted) {
        for (const std::string& id : pending->catalogIds) {
            platform::NoThrow("Util::ReplyShareCallback", [&] { pending->accepted(id); });
        }
    }
}

}  // namespace

ReplyShareRequest BuildReplyShareRequest(std::span<const PcPidl> lists, const std::string& account) {
    ReplyShareRequest request;
    request.account = account;
    request.replyType = "1";
    for (PcPidl list : lists) {
        const PcPidl last = list != nullptr ? VDPidlMgr::GetLastItem(list) : nullptr;
        if (last == nullptr || VDPidlMgr::GetState(last) != kStateShareWaiting) {
            continue;
        }
        const std::string id = platform::WideToAnsi(VDPidlMgr::GetIdString(last));
        if (id.empty()) {
            continue;
        }
        switch (VDPidlMgr::GetItemType(last)) {
            case kKindCatalog: request.catalogIDs.push_back(id); break;
            case kKindContent: request.contentIDs.push_back(id); break;
            default: break;
        }
    }
    return request;
}

int ReplyShare(ICloudSdk* sdk, std::span<const PcPidl> lists, const std::string& account) {
    VD_TRACE("Util::ReplyShare");
    const ReplyShareRequest request = BuildReplyShareRequest(lists, account);
    if (request.catalogIDs.empty() && request.contentIDs.empty()) {
        return kSdkOk;
    }
    if (sdk == nullptr) {
        return kSdkFailed;
    }
    OprResult result;
    const int code = sdk->ReplyShare(request, &result, nullptr, nullptr);
    if (code != kSdkOk) {
        VD_LOG_ERROR("ReplyShare Fail!");
    }
    return code;
}

int ReplyShareAndRefresh(ICloudSdk* sdk, std::span<const PcPidl> lists, const std::string& account,
                         std::function<void(const std::string& catalogId)> accepted) {
    VD_TRACE("Util::ReplyShareAndRefresh");
    const ReplyShareRequest request = BuildReplyShareRequest(lists, account);
    if (request.catalogIDs.empty() && request.contentIDs.empty()) {
        return kSdkOk;
    }
    if (sdk == nullptr) {
        return kSdkFailed;
    }
    auto pending = std::make_unique<PendingReply>(PendingReply{request.catalogIDs, std::move(accepted)});
    const int code = sdk->ReplyShare(request, nullptr, &ReplyShareCallback, pending.get());
    if (code != kSdkOk) {
        VD_LOG_ERROR("ReplyShare Fail!");
        return code;  // not started: the callback will not run, `pending` is ours to free
    }
    pending.release();  // the callback owns it now
    return code;
}

}  // namespace vd::Util
