// The clipboard and drag-and-drop objects under Wine, with a stand-in folder
// around them: formats and answers as the shell asks for them, the drop
// source, the drop target's format, effect and target row, the one-file
// CIDA, and a drag-out that ends with the files in the folder the copy hook
// named, downloaded from the real service.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>

#include "copy_hook.h"
#include "download_task.h"
#include "drag_out.h"
#include "drop_blocks.h"
#include "files_data_object.h"
#include "transfer_test_env.h"
#include "vd_data_object.h"
#include "vd_drop_target.h"

namespace vdtransfer {
namespace {

using vd::com::ComPtr;

// The folder the objects belong to: a list control for its rows, and a
// record of the drops it was handed.
class TestFolder final : public IVDDropFolder, public IUnknown {
 public:
  TestFolder() {
    m_window = ::CreateWindowExW(0, L"STATIC", L"folder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300,
                                 nullptr, nullptr, nullptr, nullptr);
    m_list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 380, 260, m_window,
                               nullptr, nullptr, nullptr);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 300;
    ::SendMessageW(m_list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  }
  ~TestFolder() { ::DestroyWindow(m_window); }

  void SetPidl(vd::UniquePidl folder) { m_pidl = std::move(folder); }
  int AddRow(vd::PcPidl item, const wchar_t* text) {
    LVITEMW row = {};
    row.mask = LVIF_TEXT | LVIF_PARAM;
    row.iItem = static_cast<int>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
    row.pszText = const_cast<wchar_t*>(text);
    row.lParam = reinterpret_cast<LPARAM>(item);
    return static_cast<int>(::SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
  }
  // The screen point in the middle of a row.
  POINTL RowPoint(int index) {
    RECT rect = {LVIR_BOUNDS, 0, 0, 0};
    ::SendMessageW(m_list, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    POINT p = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ::ClientToScreen(m_list, &p);
    return {p.x, p.y};
  }
  HWND List() const { return m_list; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override {
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }

  IUnknown* FolderUnknown() noexcept override { return this; }
  LPCITEMIDLIST FolderPidl() const noexcept override { return reinterpret_cast<LPCITEMIDLIST>(m_pidl.get()); }
  LPCITEMIDLIST FolderAbsolutePidl() const noexcept override { return reinterpret_cast<LPCITEMIDLIST>(m_absolute.data()); }
  HRESULT _DoDrop(IDataObject*, DWORD mode, LPCITEMIDLIST target, int formatIndex) noexcept override {
    drops.push_back({mode, formatIndex, vd::VDPidlMgr::GetPathForLog(reinterpret_cast<vd::PcPidl>(target)), byDrag});
    return S_OK;
  }
  void SetDroppedByDrag(bool on) noexcept override { byDrag = on; }
  HWND ViewListWindow() noexcept override { return m_list; }
  HWND OwnerWindow() noexcept override { return m_window; }

  struct DropCall {
    DWORD mode;
    int format;
    std::u16string target;
    bool byDrag;
  };
  std::vector<DropCall> drops;
  bool byDrag = false;
  ULONG refs = 0;
  // A desktop-relative list of two raw elements, as the shell would hand it.
  std::vector<std::uint8_t> m_absolute = {6, 0, 1, 2, 3, 4, 5, 0, 9, 9, 9, 0, 0};

 private:
  HWND m_window = nullptr;
  HWND m_list = nullptr;
  vd::UniquePidl m_pidl;
};

vd::UniquePidl Catalog(const std::string& id, const std::u16string& name) {
  vd::VDPidlMgr mgr;
  return mgr.Own(mgr.Create(vd::kKindCatalog, name, platform::Utf8ToUtf16(id), 0, 0, 0, {}, 0));
}

vd::UniquePidl Content(const std::string& id, const std::u16string& name, std::uint64_t size) {
  vd::VDPidlMgr mgr;
  return mgr.Own(mgr.Create(vd::kKindContent, name, platform::Utf8ToUtf16(id), 0, size, 0, {}, 0));
}

ComPtr<CIVDDataObject> MakeDataObject(TestFolder& folder, std::initializer_list<vd::PcPidl> items) {
  ComPtr<CIVDDataObject> data;
  EXPECT_EQ(vd::com::MakeObject(data), S_OK);
  std::vector<LPCITEMIDLIST> lists;
  for (vd::PcPidl item : items) lists.push_back(reinterpret_cast<LPCITEMIDLIST>(item));
  EXPECT_EQ(data->_Init(&folder, static_cast<UINT>(lists.size()), lists.data()), S_OK);
  return data;
}

std::vector<std::uint8_t> Bytes(const STGMEDIUM& medium) {
  const auto* p = static_cast<const std::uint8_t*>(::GlobalLock(medium.hGlobal));
  std::vector<std::uint8_t> bytes(p, p + ::GlobalSize(medium.hGlobal));
  ::GlobalUnlock(medium.hGlobal);
  return bytes;
}

// Asks for a format and returns the HRESULT and the bytes.
HRESULT Get(IDataObject* data, CLIPFORMAT format, std::vector<std::uint8_t>* bytes, DWORD tymed = TYMED_HGLOBAL) {
  FORMATETC query = {format, nullptr, DVASPECT_CONTENT, -1, tymed};
  STGMEDIUM medium = {};
  const HRESULT hr = data->GetData(&query, &medium);
  if (hr == S_OK) {
    EXPECT_EQ(medium.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
    if (bytes) *bytes = Bytes(medium);
    ::ReleaseStgMedium(&medium);
  }
  return hr;
}

TEST(DataObject, AnswersTheFormatQuestionsAsTheShellAsksThem) {
  TestFolder folder;
  folder.SetPidl(Catalog("C1", u"我的文档"));
  const auto file = Content("F1", u"说明.txt", 21), sub = Catalog("C2", u"工作");
  ComPtr<CIVDDataObject> data = MakeDataObject(folder, {file.get(), sub.get()});
  EXPECT_GT(folder.refs, 0u) << "the data object keeps its folder";

  DVTARGETDEVICE device = {};
  struct Case {
    const char* what;
    FORMATETC format;
    HRESULT expected;
  } cases[] = {
      {"NSEDRAGDROP", {NseDragDropFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, S_OK},
      {"CF_HDROP", {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL | TYMED_ISTREAM}, S_OK},
      {"text", {CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"a device", {CF_HDROP, &device, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, E_INVALIDARG},
      {"an icon", {CF_HDROP, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, DV_E_DVASPECT},
      {"a page", {CF_HDROP, nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL}, DV_E_LINDEX},
      {"a stream", {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM}, DV_E_TYMED},
  };
  for (Case& c : cases) EXPECT_EQ(data->QueryGetData(&c.format), c.expected) << c.what;

  // The formats, one a call whatever is asked for.
  ComPtr<IEnumFORMATETC> formats;
  ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, formats.put()), S_OK);
  FORMATETC got[10] = {};
  ULONG fetched = 99;
  ASSERT_EQ(formats->Next(10, got, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(got[0].cfFormat, NseDragDropFormat());
  ASSERT_EQ(formats->Next(10, got, &fetched), S_OK);
  EXPECT_EQ(got[0].cfFormat, CF_HDROP);
  EXPECT_EQ(got[0].tymed, static_cast<DWORD>(TYMED_HGLOBAL));
  EXPECT_EQ(got[0].lindex, -1);
  EXPECT_EQ(formats->Next(10, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(formats->Reset(), S_OK);
  EXPECT_EQ(formats->Skip(1), S_OK);
  ASSERT_EQ(formats->Next(1, got, nullptr), S_OK);
  EXPECT_EQ(got[0].cfFormat, CF_HDROP);
  ComPtr<IEnumFORMATETC> clone;
  EXPECT_EQ(formats->Clone(clone.put()), E_NOTIMPL);
  EXPECT_EQ(data->EnumFormatEtc(DATADIR_GET, nullptr), E_POINTER);

  // NSEDRAGDROP: the items from the cloud disk's root, in selection order.
  std::vector<std::uint8_t> block;
  ASSERT_EQ(Get(data.get(), NseDragDropFormat(), &block), S_OK);
  const auto offsets = ReadNseDragDrop(block.data(), block.size());
  ASSERT_TRUE(offsets.has_value());
  ASSERT_EQ(offsets->size(), 2u);
  EXPECT_EQ(vd::VDPidlMgr::GetPathForLog(block.data() + (*offsets)[0]), u"Veyra云盘/我的文档/说明.txt");
  EXPECT_EQ(vd::VDPidlMgr::GetPathForLog(block.data() + (*offsets)[1]), u"Veyra云盘/我的文档/工作");

  FORMATETC here = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  EXPECT_EQ(data->GetDataHere(&here, &medium), E_NOTIMPL);
  EXPECT_EQ(data->SetData(&here, &medium, FALSE), E_NOTIMPL);
  EXPECT_EQ(data->GetData(nullptr, &medium), E_POINTER);
  EXPECT_EQ(Get(data.get(), CF_UNICODETEXT, nullptr), DV_E_FORMATETC);

  ComPtr<CIVDDataObject> empty = MakeDataObject(folder, {});
  EXPECT_EQ(Get(empty.get(), NseDragDropFormat(), nullptr), E_UNEXPECTED) << "no items";
  ComPtr<CIVDDataObject> orphan;
  ASSERT_EQ(vd::com::MakeObject(orphan), S_OK);
  EXPECT_EQ(orphan->_Init(nullptr, 0, nullptr), E_FAIL);
  EXPECT_EQ(Get(orphan.get(), CF_HDROP, nullptr), E_FAIL);
}

TEST(DropSource, DropsOnReleaseAndCancelsOnEscape) {
  ComPtr<CIVDDropSource> source;
  ASSERT_EQ(vd::com::MakeObject(source), S_OK);
  EXPECT_EQ(source->QueryContinueDrag(TRUE, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(source->QueryContinueDrag(FALSE, MK_LBUTTON), S_OK);
  EXPECT_FALSE(source->TakeDropping());
  EXPECT_EQ(source->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  EXPECT_TRUE(source->TakeDropping());
  EXPECT_FALSE(source->TakeDropping()) << "read once";
  EXPECT_EQ(source->GiveFeedback(DROPEFFECT_COPY), DRAGDROP_S_USEDEFAULTCURSORS);
}

TEST(DropTarget, PicksTheFormatTheEffectAndTheCatalogUnderTheCursor) {
  TestFolder folder;
  folder.SetPidl(Catalog("C1", u"我的文档"));
  const auto sub = Catalog("C2", u"工作"), file = Content("F1", u"说明.txt", 21);
  const int catalogRow = folder.AddRow(sub.get(), L"工作");
  const int fileRow = folder.AddRow(file.get(), L"说明.txt");
  ComPtr<CIVDDropTarget> target;
  ASSERT_EQ(vd::com::MakeObject(target), S_OK);
  ASSERT_EQ(target->_Init(&folder, folder.FolderAbsolutePidl()), S_OK);

  ComPtr<CIVDDataObject> cloud = MakeDataObject(folder, {file.get()});
  vd::testing::FilesDataObject localFiles({L"C:\\a.txt"}), noFiles({});
  IDataObject* local = &localFiles;
  IDataObject* nothing = &noFiles;
  struct Case {
    const char* what;
    IDataObject* data;
    int row;  // -1: an empty place of the list
    DWORD effect;
    int format;
    std::u16string dropTarget;  // empty: no drop reaches the folder
  } cases[] = {
      {"cloud items on a catalog", cloud.get(), catalogRow, DROPEFFECT_MOVE, kFormatNseDragDrop, u"Veyra云盘/我的文档/工作"},
      {"cloud items on a file", cloud.get(), fileRow, DROPEFFECT_MOVE, kFormatNseDragDrop, u"Veyra云盘/我的文档"},
      {"local files on a catalog", local, catalogRow, DROPEFFECT_COPY, kFormatHDrop, u"Veyra云盘/我的文档/工作"},
      {"local files in the empty part", local, -1, DROPEFFECT_COPY, kFormatHDrop, u"Veyra云盘/我的文档"},
      {"nothing we take", nothing, catalogRow, DROPEFFECT_NONE, kFormatNone, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    folder.drops.clear();
    POINTL point = c.row >= 0 ? folder.RowPoint(c.row) : folder.RowPoint(fileRow);
    if (c.row < 0) point.y += 100;
    DWORD effect = 0xFF;
    ASSERT_EQ(target->DragEnter(c.data, MK_LBUTTON, point, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    EXPECT_EQ(target->FormatIndex(), c.format);
    EXPECT_TRUE(DragInProgress().load());
    ASSERT_EQ(target->DragOver(MK_LBUTTON, point, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    EXPECT_EQ(DropMarkedIndex().load(), c.row);
    if (c.row >= 0) {
      EXPECT_EQ(::SendMessageW(folder.List(), LVM_GETITEMSTATE, c.row, LVIS_DROPHILITED), LVIS_DROPHILITED);
    }
    ASSERT_EQ(target->Drop(c.data, 0, point, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    if (c.dropTarget.empty()) {
      EXPECT_TRUE(folder.drops.empty());
    } else {
      ASSERT_EQ(folder.drops.size(), 1u);
      EXPECT_EQ(folder.drops[0].mode, c.effect);
      EXPECT_EQ(folder.drops[0].format, c.format);
      EXPECT_EQ(folder.drops[0].target, c.dropTarget);
      EXPECT_TRUE(folder.drops[0].byDrag);
    }
    EXPECT_FALSE(folder.byDrag) << "only for the drop itself";
    EXPECT_FALSE(DragInProgress().load()) << "the drag is over";
    EXPECT_EQ(DropMarkedIndex().load(), -1);
    EXPECT_EQ(::SendMessageW(folder.List(), LVM_GETITEMSTATE, catalogRow, LVIS_DROPHILITED), 0);
  }
  ComPtr<CIVDDropTarget> orphan;
  ASSERT_EQ(vd::com::MakeObject(orphan), S_OK);
  EXPECT_EQ(orphan->_Init(nullptr, nullptr), E_FAIL);
}

TEST(NDDataObject, OffersTheSelectedFileAsAnIdListArray) {
  TestFolder folder;
  folder.SetPidl(Catalog("C1", u"我的文档"));
  const auto sub = Catalog("C2", u"工作"), file = Content("F1", u"说明.txt", 21);
  const int catalogRow = folder.AddRow(sub.get(), L"工作");
  const int fileRow = folder.AddRow(file.get(), L"说明.txt");
  ComPtr<CNDDataObject> data;
  ASSERT_EQ(vd::com::MakeObject(data), S_OK);
  ASSERT_EQ(data->Init(&folder, folder.List()), S_OK);

  ::SendMessageW(folder.List(), LVM_SETSELECTIONMARK, 0, fileRow);
  std::vector<std::uint8_t> cida;
  ASSERT_EQ(Get(data.get(), ShellIdListFormat(), &cida), S_OK);
  std::uint32_t header[3];
  std::memcpy(header, cida.data(), sizeof header);
  EXPECT_EQ(header[0], 1u);
  EXPECT_EQ(header[1], 12u);
  EXPECT_EQ(header[2], 12u + folder.m_absolute.size() + 1) << "the parent's elements, terminator and padding";
  EXPECT_EQ(std::memcmp(cida.data() + 12, folder.m_absolute.data(), folder.m_absolute.size() - 2), 0);
  EXPECT_TRUE(vd::VDPidlMgr::IsSameId(cida.data() + header[2], file.get()));
  EXPECT_EQ(Get(data.get(), ShellIdListFormat(), nullptr, TYMED_ISTREAM), DV_E_TYMED);
  EXPECT_EQ(Get(data.get(), CF_HDROP, nullptr), E_FAIL);
  ::SendMessageW(folder.List(), LVM_SETSELECTIONMARK, 0, catalogRow);
  EXPECT_EQ(Get(data.get(), ShellIdListFormat(), nullptr), E_FAIL) << "a catalog is not a file";
}

// ---------------------------------------------------------------- against the service

class DragOut : public TransferEndToEnd {};

TEST_F(DragOut, TheFilesLandWhereTheCopyHookSaysThePlaceholderWasDropped) {
  const auto P = [](const char* utf8) { return fs::u8path(utf8); };
  const fs::path src = s_folder / P("拖出源");
  WriteBytes(src / P("报告.doc"), 300000, 31);
  WriteBytes(src / P("相册") / P("照片.jpg"), 70000, 32);
  const std::string top = NewCatalog("拖出");
  UploadDirNode root;
  root.catalogId = top;
  root.files = {ToAnsi(src / P("报告.doc"))};
  UploadDirNode album;
  album.localPath = ToAnsi(src / P("相册"));
  album.files = {ToAnsi(src / P("相册") / P("照片.jpg"))};
  root.subdirs = {album};
  ASSERT_TRUE(UploadTree(root, 2, u"拖出"));
  const ListResult listed = List(sdk, top);
  ASSERT_EQ(listed.catalogs.size(), 1u);
  ASSERT_EQ(listed.contents.size(), 1u);
  host.progress = nullptr;  // the upload's window

  TestFolder folder;
  folder.SetPidl(Catalog(top, u"拖出"));
  const auto file = Content(listed.contents[0].contentID, platform::AnsiToWide(listed.contents[0].contentName), 300000);
  const auto catalog = Catalog(listed.catalogs[0].catalogID, platform::AnsiToWide(listed.catalogs[0].catalogName));
  ComPtr<CIVDDataObject> data = MakeDataObject(folder, {file.get(), catalog.get()});
  ComPtr<CIVDDropSource> source;
  ASSERT_EQ(vd::com::MakeObject(source), S_OK);
  data->SetDropSource(source.get());

  // A target looks at the formats while the button is down: the placeholder, no download.
  std::vector<std::uint8_t> hdrop;
  ASSERT_EQ(Get(data.get(), CF_HDROP, &hdrop), S_OK);
  const auto paths = ReadDropFiles(hdrop.data(), hdrop.size());
  ASSERT_TRUE(paths.has_value());
  ASSERT_EQ(paths->size(), 1u);
  const std::u16string placeholder = (*paths)[0];
  EXPECT_TRUE(placeholder.ends_with(u"\\$VD$SLDL$\\$$PandrelDownload")) << platform::Utf16ToUtf8(placeholder);
  EXPECT_TRUE(fs::is_directory(fs::path(placeholder)));
  EXPECT_EQ(RunningDownloads().load(), 0);
  EXPECT_EQ(host.progress.load(), nullptr);

  // An internal drag: our drop target is under the cursor; no download, ever.
  DragInProgress() = true;
  ASSERT_EQ(source->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(Get(data.get(), CF_HDROP, nullptr), E_UNEXPECTED);
  DragInProgress() = false;
  // Our drop handling took the cloud format: the CF_HDROP that follows gets nothing.
  ASSERT_EQ(Get(data.get(), NseDragDropFormat(), nullptr), S_OK);
  ASSERT_EQ(source->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(Get(data.get(), CF_HDROP, nullptr), E_UNEXPECTED);
  EXPECT_EQ(RunningDownloads().load(), 0);
  EXPECT_EQ(host.progress.load(), nullptr) << "no download was started";

  // Released over Explorer: the download starts and waits for the copy hook.
  ASSERT_EQ(source->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  ASSERT_EQ(Get(data.get(), CF_HDROP, &hdrop), S_OK);
  // Explorer copies the placeholder into the user's folder, asking the copy hooks first.
  const fs::path dropped = s_folder / P("拖到这里");
  fs::create_directories(dropped);
  ComPtr<ICopyHookW> hook;
  ASSERT_EQ(CTCopyHook::CreateInstance(IID_ICopyHookW, reinterpret_cast<void**>(hook.put())), S_OK);
  const std::wstring destination = (dropped / L"$$PandrelDownload").wstring();
  EXPECT_EQ(hook->CopyCallback(nullptr, FO_COPY, 0, reinterpret_cast<const wchar_t*>(placeholder.c_str()),
                               FILE_ATTRIBUTE_DIRECTORY, destination.c_str(), 0),
            static_cast<UINT>(IDNO));
  const fs::path gotFile = dropped / P("报告.doc"), gotPhoto = dropped / P("相册") / P("照片.jpg");
  ASSERT_TRUE(PumpUntil(
      [&] { return fs::exists(gotFile) && fs::exists(gotPhoto) && RunningDownloads().load() == 0; }, 120000));
  EXPECT_EQ(FileMd5(gotFile), FileMd5(src / P("报告.doc")));
  EXPECT_EQ(FileMd5(gotPhoto), FileMd5(src / P("相册") / P("照片.jpg")));
  EXPECT_FALSE(fs::exists(dropped / L"$$PandrelDownload")) << "nothing of the placeholder is copied";
  std::lock_guard l(host.lock);
  EXPECT_TRUE(host.messages.empty()) << host.messages.front();
}


// Copy and Cut put the data object on the clipboard; a paste into Explorer
// asks for CF_HDROP, copies the placeholder, and the copy hook sends the
// download there. A cut takes the items off the service once they arrived.
TEST_F(DragOut, CopyAndCutThroughTheClipboardLandWhereThePasteWent) {
  ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
  const auto P = [](const char* utf8) { return fs::u8path(utf8); };
  const fs::path src = s_folder / P("剪贴源");
  WriteBytes(src / P("复制.txt"), 5000, 41);
  WriteBytes(src / P("剪切.txt"), 6000, 42);
  const std::string top = NewCatalog("剪贴");
  UploadDirNode root;
  root.catalogId = top;
  root.files = {ToAnsi(src / P("复制.txt")), ToAnsi(src / P("剪切.txt"))};
  std::atomic<bool> uploaded{false};
  auto* up = new CVDUploadFileTask();
  ASSERT_EQ(up->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 2, 0, u"剪贴", nullptr,
                                  [&](int r, const std::vector<UploadResultItem>&, vd::PcPidl) {
                                    EXPECT_EQ(r, 0);
                                    uploaded = true;
                                  }),
            0);
  ASSERT_TRUE(PumpUntil([&] { return uploaded.load(); }, 120000));
  TestFolder folder;
  folder.SetPidl(Catalog(top, u"剪贴"));
  auto item = [&](const char* name) {
    for (const auto& c : List(sdk, top).contents)
      if (c.contentName == platform::WideToAnsi(platform::Utf8ToUtf16(name)))
        return Content(c.contentID, platform::Utf8ToUtf16(name), std::stoull(c.contentSize));
    ADD_FAILURE() << name;
    return vd::UniquePidl();
  };
  ComPtr<ICopyHookW> hook;
  ASSERT_EQ(CTCopyHook::CreateInstance(IID_ICopyHookW, reinterpret_cast<void**>(hook.put())), S_OK);

  struct Case {
    const char* name;
    int mode;
    bool staysInCloud;
  } cases[] = {{"复制.txt", CIVDDataObject::kCopied, true}, {"剪切.txt", CIVDDataObject::kCut, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = item(c.name);
    ComPtr<CIVDDataObject> data = MakeDataObject(folder, {file.get()});
    data->SetMode(c.mode);
    ASSERT_EQ(::OleSetClipboard(data.get()), S_OK);
    ComPtr<IDataObject> pasted;
    ASSERT_EQ(::OleGetClipboard(pasted.put()), S_OK);
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Get(pasted.get(), NseDragDropFormat(), &block), S_OK) << "the cloud format survives the clipboard";
    ASSERT_TRUE(ReadNseDragDrop(block.data(), block.size()).has_value());
    std::vector<std::uint8_t> hdrop;
    ASSERT_EQ(Get(pasted.get(), CF_HDROP, &hdrop), S_OK);
    const auto paths = ReadDropFiles(hdrop.data(), hdrop.size());
    ASSERT_TRUE(paths && paths->size() == 1u);
    const fs::path pasteInto = s_folder / P("粘贴到") / P(c.name);
    fs::create_directories(pasteInto);
    const std::wstring destination = (pasteInto / L"$$PandrelDownload").wstring();
    EXPECT_EQ(hook->CopyCallback(nullptr, FO_COPY, 0, reinterpret_cast<const wchar_t*>((*paths)[0].c_str()),
                                 FILE_ATTRIBUTE_DIRECTORY, destination.c_str(), 0),
              static_cast<UINT>(IDNO));
    const fs::path got = pasteInto / P(c.name);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(got) && RunningDownloads().load() == 0; }, 120000))
        << "running " << RunningDownloads().load() << " messages " << host.messages.size() << " dest "
        << platform::Utf16ToUtf8(DragOutHandOver::Instance().Destination());
    EXPECT_EQ(FileMd5(got), FileMd5(src / P(c.name)));
    bool listed = false;
    for (const auto& e : List(sdk, top).contents)
      listed = listed || e.contentName == platform::WideToAnsi(platform::Utf8ToUtf16(c.name));
    EXPECT_EQ(listed, c.staysInCloud);
    EXPECT_EQ(::OleSetClipboard(nullptr), S_OK);
  }
  ::OleUninitialize();
}
}  // namespace
}  // namespace vdtransfer
