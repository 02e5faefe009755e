#pragma once

// How the filter reaches the user interface. The filter pane implements FilterHost (for
// example by posting a QEvent to itself); tests and benchmarks implement it with a
// recorder. The filter keeps a plain pointer and never owns it; the host must outlive the
// LineFilter.

class FilterHost {
  public:
    virtual ~FilterHost() = default;

    // Called on the filter's worker thread. Queues a notice for the main thread and
    // returns at once: it must not wait for the main thread and must not call into the
    // LineFilter. The main thread answers the notice with LineFilter::collect(). At most
    // one notice is outstanding: the next is posted only after collect() ran, so notices
    // never pile up however fast the worker goes.
    virtual void postFilterProgress() = 0;
};
