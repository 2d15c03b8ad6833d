// Coverage-guided fuzzing of the PNG flag parser with clang's libFuzzer; see CMakeLists.txt here.
#include "detect/PngScreenCaptureFlag.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Signature, then an IHDR chunk of 13 bytes: past these the answer must be true or false.
    static constexpr std::uint8_t kHeader[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                               0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    const auto answer = quillary::pngScreenCaptureFlagFromBytes({data, size});
    if (size >= 33 && std::memcmp(data, kHeader, sizeof kHeader) == 0 && !answer)
        __builtin_trap();
    return 0;
}
