#pragma once

class ProgressPrinter;

namespace HostFlow {
class UpdateFlow;
}

// The command line's view of the update flow: every report of the flow goes
// to the printer, as plain lines or JSON events.
void printFlow(HostFlow::UpdateFlow &flow, ProgressPrinter &printer);
