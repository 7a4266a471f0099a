// Placeholders until the add-on rebuild unit lands; removed by that merge.
#include "framework/sysutils.h"
#include "wizard/addonrebuild.h"

namespace vr {

void DeleteTree(const std::string&) {}
TAddonRebuild::TAddonRebuild(const std::string& destination, const std::string& title)
    : destination_(destination), title_(title) {}
TAddonRebuild::~TAddonRebuild() = default;
void TAddonRebuild::Prepare() { throw EVrError("この追加パッケージの種類にはまだ対応していません"); }
void TAddonRebuild::TakeAddonEntries(TVrFileCollection&, TVrFileCollection&) {}
void TAddonRebuild::TakeOldEntries(TVrFileCollection&) {}
bool TAddonRebuild::Rebuild(TVrFileCollection&, TVrFileCollection&) { return false; }
void TAddonRebuild::CopyBack() {}
void TAddonRebuild::DeleteWorkFolder() {}

}  // namespace vr
