#include "medialib/fpu_control.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#else
#include <fenv.h>
#endif

namespace kelvaro {

#if defined(__x86_64__) || defined(__i386__)

unsigned MaskFloatingPointExceptions()
{
    const unsigned previous = _mm_getcsr();
    _mm_setcsr(previous | _MM_MASK_MASK);
    return previous;
}

void RestoreFloatingPointControl(unsigned previous)
{
    _mm_setcsr(previous);
}

#else

unsigned MaskFloatingPointExceptions()
{
    const int previous = fegetexcept();
    fedisableexcept(FE_ALL_EXCEPT);
    return static_cast<unsigned>(previous);
}

void RestoreFloatingPointControl(unsigned previous)
{
    feenableexcept(static_cast<int>(previous));
}

#endif

}  // namespace kelvaro
