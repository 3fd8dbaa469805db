// The owner's handle on a co-processor link.
#pragma once

#include <memory>

class CoprocessorLink;

// Closes the link (its threads, channels and port) and deletes it.
struct CoprocessorLinkCloser {
    void operator()(CoprocessorLink* link) const;
};
// The one owner of a link; resetting it closes the link. Where the order of closing matters
// (the dialog's close, the end of an update run), the owner resets its links explicitly.
using CoprocessorLinkPtr = std::unique_ptr<CoprocessorLink, CoprocessorLinkCloser>;
