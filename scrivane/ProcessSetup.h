#pragma once
// Settings of the engine process, made once before the inference runtime
// starts.
namespace scrivane {

// Keeps the runtime's telemetry off (it would write a device identifier into
// the user's home and try to upload from the counting computer), and sets the
// heap up for one short job: the runtime allocates some 60 MB in many pieces
// while it opens a session, and first-touch page faults of that memory cost
// more than everything else in the job. The heap is grown once in a large
// step, kept (never trimmed) and backed by transparent huge pages where the
// kernel offers them.
void PrepareEngineProcess();
// The telemetry part alone; every runtime environment is made after it.
void KeepRuntimeTelemetryOff();

}  // namespace scrivane
