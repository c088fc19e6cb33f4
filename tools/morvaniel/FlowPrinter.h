#pragma once

class ProgressPrinter;
class UpdateFlow;

// The command line's view of the update flow: every report of the flow goes
// to the printer, as plain lines or JSON events.
void printFlow(UpdateFlow &flow, ProgressPrinter &printer);
