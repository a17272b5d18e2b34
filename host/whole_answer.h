// The rule every host keeps for an extension's answer: it is held until
// the extension returns and then sent whole, with its length, so that a
// host that dies while the extension runs has sent nothing of it. A front
// server with several hosts behind it then passes the request to another
// host; an answer it had begun to pass on could only be cut.
#ifndef TAVIK_HOST_WHOLE_ANSWER_H_
#define TAVIK_HOST_WHOLE_ANSWER_H_

#include <cstddef>

namespace tavik {

// The most body bytes of one answer a host holds. The search pages are a
// few KB to a few hundred; an answer that grows past this is sent from
// then on as the extension writes it (and the host's log says so), so that
// no answer costs more memory than this.
inline constexpr size_t kWholeAnswerBytes = size_t{4} << 20;

}  // namespace tavik

#endif  // TAVIK_HOST_WHOLE_ANSWER_H_
