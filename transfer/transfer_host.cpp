#include "transfer_host.h"

#include <atomic>

namespace vdtransfer {
namespace {
std::atomic<ITransferHost*> g_host{nullptr};
}  // namespace

void SetTransferHost(ITransferHost* host) { g_host.store(host); }
ITransferHost* CurrentTransferHost() { return g_host.load(); }

}  // namespace vdtransfer
