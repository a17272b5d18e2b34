// The posted form data as the extension reads it: the bytes the server has
// already read, taken as text.
#ifndef TAVIK_EXTENSION_POSTED_TEXT_H_
#define TAVIK_EXTENSION_POSTED_TEXT_H_

#include <cstddef>

#include "interface/server_interface.h"

namespace tavik {

// The size of the buffer that holds the posted text.
inline constexpr size_t kBodySize = 4096;
// The posted data is taken as text of at most this many characters.
inline constexpr size_t kMaxPostedLength = 1023;

// Copies the posted bytes of `pECB` into `body` (kBodySize bytes) as text:
// up to the first NUL or the end of the bytes the server supplied, at most
// kMaxPostedLength of them, followed by a NUL. Bytes the server has not yet
// read (ReadClient) are never asked for.
void CopyPostedText(const EXTENSION_CONTROL_BLOCK* pECB, char* body);

// The form value in the posted text `body`: the text after its first "=",
// or nullptr when it has none (a plain GET). The value is part of `body`.
char* FindFormValue(char* body);

}  // namespace tavik

#endif  // TAVIK_EXTENSION_POSTED_TEXT_H_
