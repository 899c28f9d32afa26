// A libsndfile handle that closes itself. Close explicitly where the close can fail and the
// caller must hear it (a written file's header is finished there).
//
//   SoundFile f(sf_open(path, SFM_WRITE, &info));
//   if (!f) ...sf_strerror(nullptr)...
//   if (!CloseSoundFile(f)) ...the file is not whole...
#pragma once

#include <memory>
#include <sndfile.h>

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

// Closes now; true when libsndfile finished the file without an error.
inline bool CloseSoundFile(SoundFile& file)
{
    SNDFILE* raw = file.release();
    return raw == nullptr || sf_close(raw) == 0;
}
