// Shell links through the shell's link object (COM) and SHFileOperation, with the texts converted from
// code page 932 explicitly and the wide interfaces called, as everywhere in this layer.
#include "platform/win32/winapi.h"
// (winapi.h first: it brings the system headers.)
#include "platform/codepage.h"
#include "platform/win32/win32platform.h"
#include "platform/win32/win32text.h"

namespace vr {

namespace {

// Releases a COM interface when it goes out of scope.
template <class T>
class TComRef {
 public:
  TComRef() = default;
  ~TComRef() {
    if (p_) p_->Release();
  }
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A zero-separated list converted name by name (the conversion stops at a zero character), ended by two
// zero characters.
std::wstring WideZeroList(const std::string& list) {
  std::wstring out;
  for (const std::string& name : SplitZeroList(list)) {
    out += Wide(name);
    out += L'\0';
  }
  out += L'\0';
  return out;
}

}  // namespace

TShellLinkResult TWin32Platform::SaveShellLink(const TShellLinkData& link, const std::string& path) {
  TComRef<IShellLinkW> shellLink;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(shellLink.Out()))) ||
      !shellLink)
    return TShellLinkResult::NoLinkObject;
  TComRef<IPersistFile> file;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out()))) || !file)
    return TShellLinkResult::NoPersistence;
  shellLink->SetDescription(Wide(link.Description).c_str());
  shellLink->SetPath(Wide(link.Target).c_str());
  shellLink->SetWorkingDirectory(Wide(link.WorkDir).c_str());
  shellLink->SetArguments(Wide(link.Arguments).c_str());
  shellLink->SetHotkey(link.HotKey);
  shellLink->SetShowCmd(link.ShowCommand);
  shellLink->SetIconLocation(Wide(link.IconLocation).c_str(), link.IconIndex);
  return SUCCEEDED(file->Save(Wide(path).c_str(), TRUE)) ? TShellLinkResult::Saved
                                                         : TShellLinkResult::SaveFailed;
}

TShellFileOpResult TWin32Platform::ShellFileOperation(const TShellFileOp& operation) {
  const std::wstring from = WideZeroList(operation.From);
  const std::wstring to = WideZeroList(operation.To);
  const std::wstring title = operation.ProgressTitle ? Wide(*operation.ProgressTitle) : std::wstring();
  SHFILEOPSTRUCTW op = {};
  op.hwnd = reinterpret_cast<HWND>(OwnerWindow());
  op.wFunc = operation.Operation;
  op.pFrom = from.c_str();
  op.pTo = operation.To.empty() ? nullptr : to.c_str();
  op.fFlags = operation.Flags;
  op.fAnyOperationsAborted = FALSE;
  op.hNameMappings = nullptr;
  op.lpszProgressTitle = operation.ProgressTitle ? title.c_str() : nullptr;
  TShellFileOpResult result;
  result.Result = SHFileOperationW(&op);
  result.Aborted = op.fAnyOperationsAborted != FALSE;
  return result;
}

}  // namespace vr
