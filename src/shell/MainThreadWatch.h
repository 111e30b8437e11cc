#pragma once

class QObject;

namespace velmarune {

// With VELMARUNE_MAIN_THREAD_REPORT_MS=N set (benchmarks, bug hunts), logs
// "main thread busy X ms" whenever the main thread answered a 2 ms timer at
// least N ms late: a stall the user feels as a late key release or paste.
// The time the thread itself ran in that span follows ("ran Y ms"): a stall
// with little of it was a wait for a CPU held by other processes.
// Unset, it does nothing and costs nothing.
void watchMainThread(QObject* parent);

}  // namespace velmarune
