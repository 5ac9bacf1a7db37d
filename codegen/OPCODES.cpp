#include "codegen/OPCODES.h"

namespace OPCODES {

const char* OpcodeName(std::int32_t lOpCode) {
  switch (lOpCode) {
#define VSL_OPCODE_NAME(name, number, keyword) \
  case number:                                 \
    return #name;
    VSL_OPCODES(VSL_OPCODE_NAME)
#undef VSL_OPCODE_NAME
    default:
      return "";
  }
}

}  // namespace OPCODES
