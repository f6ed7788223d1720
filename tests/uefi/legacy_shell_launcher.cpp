// SPDX-License-Identifier: BSD-2-Clause-Patent
// legacy-shell-launcher.efi FILE: loads FILE from the current directory and
// starts it the way an EFI Shell 1.x starts an application, without the
// shell-parameters protocol on its image handle. Returns the image's status,
// so %lasterror% shows what it returned; prints nothing of its own.
#include "runtime/efi.h"
#include "runtime/efi_shell.h"

namespace {

// The image file, read whole into pool memory.
void* ReadWholeFile(EFI_BOOT_SERVICES* bs, EFI_SHELL_PROTOCOL* shell, const CHAR16* name, UINTN* size) {
  SHELL_FILE_HANDLE file = nullptr;
  if (EfiError(shell->OpenFileByName(name, &file, kEfiFileModeRead))) return nullptr;
  uint64_t fileSize = 0;
  void* buffer = nullptr;
  if (!EfiError(shell->GetFileSize(file, &fileSize)) &&
      !EfiError(bs->AllocatePool(EfiLoaderData, static_cast<UINTN>(fileSize), &buffer))) {
    *size = static_cast<UINTN>(fileSize);
    if (EfiError(shell->ReadFile(file, size, buffer)) || *size != fileSize) {
      bs->FreePool(buffer);
      buffer = nullptr;
    }
  }
  shell->CloseFile(file);
  return buffer;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  EFI_BOOT_SERVICES* bs = systemTable->BootServices;
  void* parameters = nullptr;
  void* shell = nullptr;
  if (EfiError(bs->HandleProtocol(imageHandle, &kShellParametersProtocolGuid, &parameters)) ||
      EfiError(bs->LocateProtocol(&kShellProtocolGuid, nullptr, &shell)))
    return kEfiUnsupported;
  auto* arguments = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL*>(parameters);
  if (arguments->Argc != 2) return kEfiInvalidParameter;

  UINTN size = 0;
  void* file = ReadWholeFile(bs, static_cast<EFI_SHELL_PROTOCOL*>(shell), arguments->Argv[1], &size);
  if (file == nullptr) return kEfiNotFound;
  EFI_HANDLE child = nullptr;
  EFI_STATUS status = bs->LoadImage(0, imageHandle, nullptr, file, size, &child);
  bs->FreePool(file);
  if (EfiError(status)) return status;
  return bs->StartImage(child, nullptr, nullptr);
}
