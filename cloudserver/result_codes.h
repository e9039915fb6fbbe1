#pragma once
// Result codes answered by the service; the client turns them into messages,
// so the numbers are the ones its table knows.
namespace cloudserver::codes {
constexpr int kOk = 0;
constexpr int kTokenInvalid = 102;
constexpr int kBadLogin = 103;
constexpr int kBadRequest = 200000400;
constexpr int kTooLarge = 200000411;
constexpr int kServerError = 200000500;
constexpr int kNameTooLong = 204009108;
constexpr int kFileNameBad = 204009151;
constexpr int kAccountBad = 204009152;
constexpr int kCatalogNameBad = 204009156;
constexpr int kTooDeep = 204009403;
constexpr int kParentMissing = 204009404;
constexpr int kNameExists = 204009405;
constexpr int kCatalogMissing = 204009406;
constexpr int kNoDownloadRight = 204009409;
constexpr int kNoSpace = 204009424;
constexpr int kAccountExists = 204009430;
constexpr int kTooManyItems = 204009450;
constexpr int kMoveSameFolder = 204009457;
constexpr int kFixedNoModify = 204009459;
constexpr int kCopySameFolder = 204009477;
constexpr int kCopyIntoSelf = 204009496;
constexpr int kCopyCatalogSameFolder = 204009499;
constexpr int kLinkMissing = 204009511;
constexpr int kFixedNoMove = 204009515;
constexpr int kFixedNoDelete = 204009517;
constexpr int kContentMissing = 204029400;
constexpr int kSaveFailed = 204029402;
constexpr int kTaskMissing = 204029404;
constexpr int kShareMissing = 204029406;
}  // namespace cloudserver::codes
