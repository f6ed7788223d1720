// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

// The tool's entry point, called once by the runtime with the UTF-8 argument
// vector; returns the exit status for the shell.
namespace pellrix {
int main(int argc, char** argv);
}
