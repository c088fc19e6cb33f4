#pragma once

namespace Publisher {

struct Run;

// Grows the channel published at run.outputDir by the version folder
// options.addVersionDir: its full pack, the patches options name, its block
// index beside the published ones, the new guide manifest and release, then
// retention when options.keep is set. Nothing published is rewritten but the
// guide manifest and the signed release.
bool addToLayout(Run &run);

// Retention alone on the channel published at run.outputDir.
bool pruneLayout(Run &run);

} // namespace Publisher
