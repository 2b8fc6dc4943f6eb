// Printable listings of a compiled TRegEngine program, for debugging and tests.
#pragma once

#include <string>
#include <string_view>

// One line per node: position, name, next position and operands, e.g.
//   "   6: Literal next=30 \"photoDomainNameCallback\"".
// A value that is never emitted raises ERegEngine 1011.
std::string DumpProgram(std::string_view program);

// The nodes in the order they are stored, space-separated, with operands in brackets:
// "Alternative Literal[ab] StarSimple AnyChar GroupOpen1 Success". Same errors as DumpProgram.
std::string ProgramOutline(std::string_view program);
