// The texts callers show for the library's result codes.
#pragma once

namespace vic {

// The text for a non-zero code; "Camera Application Error" for codes without one of their own.
const char* resultText(int code);

}  // namespace vic
