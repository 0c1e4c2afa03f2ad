#include "window/InstanceGuard.h"

#include <algorithm>

#include "window/MessageBoxes.h"
#include "window/ShellTexts.h"
#include "ports/Utf.h"

namespace lu14 {

std::u16string MakeInstanceName(std::u16string_view programPath) {
  std::size_t length = std::min(programPath.size(), kInstanceNameCapacity - 1);
  // Cutting between the halves of a surrogate pair would leave half a character.
  if (length < programPath.size() && length > 0 && programPath[length - 1] >= 0xD800 &&
      programPath[length - 1] <= 0xDBFF) {
    --length;
  }
  std::u16string name(programPath.substr(0, length));
  std::replace(name.begin(), name.end(), u'\\', u'/');
  return name;
}

InstanceGuard::InstanceGuard(Shell& shell) : shell_(shell) {}

InstanceGuard::~InstanceGuard() { EndInstanceGuard(); }

bool InstanceGuard::IsAlreadyRunning() {
  instanceName_ = MakeInstanceName(shell_.ProgramPath());
  instanceSemaphore_ = shell_.CreateNamedSemaphore(instanceName_, 1, 1);
  if (!instanceSemaphore_) return true;
  return !instanceSemaphore_->Wait(kInstanceWait);
}

bool InstanceGuard::StartInstanceGuard() {
  instanceReleaseCount_ = 0;
  if (IsAlreadyRunning()) {
    shell_.ShowMessageBox(InstanceRejectedBox(Utf16ToUtf8(instanceName_)));
    return false;
  }
  instanceReleaseCount_ = 1;
  return true;
}

void InstanceGuard::EndInstanceGuard() {
  if (ended_) return;
  ended_ = true;
  if (!instanceSemaphore_) return;
  instanceSemaphore_->Release(instanceReleaseCount_);
  instanceSemaphore_.reset();
}

}  // namespace lu14
