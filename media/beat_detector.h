#pragma once
// The beats of a soundtrack file (libaubio's tempo tracker on the decoded 44,100 Hz stream), for
// putting slide changes on the music's beats. A whole file is read once; callers run it on a worker.

#include <stop_token>
#include <string>
#include <vector>

namespace kestrelle {

struct BeatTrack {
    std::vector<double> beatSeconds;  // ascending, from the start of the file
    double beatsPerMinute = 0.0;      // the tracker's tempo estimate at the end; 0 when none
    bool complete = false;            // the whole file was read (false: stopped, unreadable, failed)
};

BeatTrack detectBeats(const std::string& path, std::stop_token stop = {});

}  // namespace kestrelle
