// SPDX-License-Identifier: BSD-2-Clause-Patent
// The shell application's start: takes the argument list from the shell,
// converts it to UTF-8 and hands it to the program. The program's return value
// is the status the shell sees (%lasterror%). Only boot services are used, so
// the host runs it against the simulated firmware as well.
#include "runtime/efi_globals.h"
#include "runtime/shell_program.h"
#include "runtime/efi_shell.h"

namespace {

// Bytes needed for the UTF-8 form of one UTF-16 string, terminator included.
UINTN Utf8Length(const CHAR16* text) {
  UINTN length = 1;
  for (; *text != 0; ++text) length += *text < 0x80 ? 1 : *text < 0x800 ? 2 : 3;
  return length;
}

// Surrogate pairs are not joined: shell arguments of this tool are ASCII, and
// each half still converts to a well-defined three-byte sequence.
char* ToUtf8(const CHAR16* text, char* out) {
  for (; *text != 0; ++text) {
    char16_t code = *text;
    if (code < 0x80) {
      *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
      *out++ = static_cast<char>(0xC0 | code >> 6);
      *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out++ = static_cast<char>(0xE0 | code >> 12);
      *out++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  *out++ = '\0';
  return out;
}

}  // namespace

EFI_STATUS RunShellProgram(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable, ShellProgram program) {
  gImageHandle = imageHandle;
  gST = systemTable;
  gBS = systemTable->BootServices;

  // An EFI Shell 1.x offers no argument list this way: say so rather than
  // return to the prompt in silence.
  void* interface = nullptr;
  if (EfiError(gBS->HandleProtocol(imageHandle, &kShellParametersProtocolGuid, &interface)) || interface == nullptr) {
    gST->ConOut->OutputString(gST->ConOut, u"This utility requires UEFI Shell 2.0 or later.\r\n");
    constexpr EFI_STATUS kNotSupportedStatus = 130;  // the programs' "not supported" exit status
    return kNotSupportedStatus;
  }
  auto* parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL*>(interface);

  // One block of pages holds the pointer vector and the strings behind it.
  // Pages, not pool: the program's pool allocations are its own, counted
  // from its first one (a board's allocation failures name them so), and the
  // argument list is not one of them.
  UINTN argc = parameters->Argc;
  UINTN size = (argc + 1) * sizeof(char*);
  for (UINTN i = 0; i < argc; ++i) size += Utf8Length(parameters->Argv[i]);
  constexpr UINTN kPage = 4096;
  UINTN pages = (size + kPage - 1) / kPage;
  EFI_PHYSICAL_ADDRESS address = 0;
  if (EfiError(gBS->AllocatePages(AllocateAnyPages, EfiLoaderData, pages, &address))) return kEfiOutOfResources;
  void* block = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
  char** argv = static_cast<char**>(block);
  char* strings = reinterpret_cast<char*>(argv + argc + 1);
  for (UINTN i = 0; i < argc; ++i) {
    argv[i] = strings;
    strings = ToUtf8(parameters->Argv[i], strings);
  }
  argv[argc] = nullptr;

  int status = program(static_cast<int>(argc), argv);
  gBS->FreePages(address, pages);
  return static_cast<EFI_STATUS>(static_cast<uint32_t>(status));
}
