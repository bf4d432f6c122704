// The engine runs with every floating-point exception masked (x87 control word 0x133F).
#pragma once

#include <cstdint>

namespace quorlane {

struct FpuControlWord {
    uint16_t value = 0;
    bool saved = false;
};

// Saves the current word and sets 0x133F (x86 only; elsewhere nothing is changed).
FpuControlWord SetEngineFpuControlWord();
void RestoreFpuControlWord(const FpuControlWord& saved);
// The current x87 control word, or 0 where there is none.
uint16_t CurrentFpuControlWord();

}  // namespace quorlane
