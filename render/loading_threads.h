#pragma once
// Whether a photo being loaded may take a second core: large JPEGs decode on two threads
// (render/jpeg_parallel.h) and large photos are resampled and drawn on two (render/photo_loader.cpp).
// That shortens a load someone waits for, but costs a little more processor time in all; loading that
// runs beside other busy threads, such as the generation job's look-ahead beside the encoder, is better
// off on its own thread alone.

namespace kestrelle {

// True unless a PhotoLoadingOnOneThread lives on the calling thread, or the machine has one core.
bool photoLoadingMayUseTwoThreads();

// While one lives on a thread, the photos that thread loads are decoded, resampled and drawn on that
// thread alone.
class PhotoLoadingOnOneThread {
public:
    PhotoLoadingOnOneThread();
    ~PhotoLoadingOnOneThread();
    PhotoLoadingOnOneThread(const PhotoLoadingOnOneThread&) = delete;
    PhotoLoadingOnOneThread& operator=(const PhotoLoadingOnOneThread&) = delete;

private:
    bool before_;
};

}  // namespace kestrelle
