#include "Fpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#define QUORLANE_HAS_X87 1
#endif

namespace quorlane {

FpuControlWord SetEngineFpuControlWord()
{
    FpuControlWord saved;
#ifdef QUORLANE_HAS_X87
    fpu_control_t cw;
    _FPU_GETCW(cw);
    saved.value = static_cast<uint16_t>(cw);
    saved.saved = true;
    fpu_control_t engine = 0x133F;
    _FPU_SETCW(engine);
#endif
    return saved;
}

void RestoreFpuControlWord(const FpuControlWord& saved)
{
#ifdef QUORLANE_HAS_X87
    if (!saved.saved) return;
    fpu_control_t cw = saved.value;
    _FPU_SETCW(cw);
#else
    (void)saved;
#endif
}

uint16_t CurrentFpuControlWord()
{
#ifdef QUORLANE_HAS_X87
    fpu_control_t cw;
    _FPU_GETCW(cw);
    return static_cast<uint16_t>(cw);
#else
    return 0;
#endif
}

}  // namespace quorlane
