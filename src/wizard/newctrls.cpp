#include "wizard/newctrls.h"

#include "platform/platform.h"

namespace vr {

uint16_t ShellFileOpFlags(const TFileOpFlags& options) {
  static const struct {
    TFileOpFlag Option;
    uint16_t Flag;
  } kMap[] = {
      {fofMultiDestFiles, FOF_MULTIDESTFILES_},
      {fofConfirmMouse, FOF_CONFIRMMOUSE_},
      {fofSilent, FOF_SILENT_},
      {fofRenameOnCollision, FOF_RENAMEONCOLLISION_},
      {fofNoConfirmation, FOF_NOCONFIRMATION_},
      {fofAllowUndo, FOF_ALLOWUNDO_},
      {fofFilesOnly, FOF_FILESONLY_},
      {fofSimpleProgress, FOF_SIMPLEPROGRESS_},
      {fofNoConfirmMkdir, FOF_NOCONFIRMMKDIR_},
      {fofNoErrorUI, FOF_NOERRORUI_},
  };
  uint16_t flags = 0;
  for (const auto& m : kMap)
    if (options.Contains(m.Option)) flags |= m.Flag;
  return flags;
}

TFileOperation::TFileOperation(TComponent* owner) : TComponent(owner) {}

bool TFileOperation::Execute(uint32_t operation, const std::string& source, const std::string& destination) {
  TShellFileOp op;
  op.Operation = operation;
  op.From = source;
  op.To = destination;
  op.Flags = ShellFileOpFlags(Options);
  if (Options.Contains(fofSimpleProgress)) op.ProgressTitle = Title;
  // The shell's own result code is not passed on: callers only learn whether the user aborted.
  return Platform().ShellFileOperation(op).Aborted;
}

}  // namespace vr
