#pragma once
// Finding faces in a picture, so that pan and zoom and Fill keep them in the frame.
//
// The detector is OpenCV's cascade classifier with the frontal-face LBP cascade Debian's opencv-data
// ships. It runs on a grey copy of the picture shrunk to kFaceDetectionLongSide, which also sets the
// smallest face found: the cascade's 45-pixel window on that copy (about a seventeenth of the picture's
// long side). Each rectangle is grown from the cascade's tight eyes-to-mouth box to the whole face,
// forehead to chin.

#include <QImage>
#include <QRectF>

#include <string>
#include <vector>

namespace kestrelle {

// The folder opencv-data installs its cascades into.
inline constexpr char kFaceCascadeFolder[] = "/usr/share/opencv4";

// The long side of the grey copy faces are searched in, in pixels.
constexpr int kFaceDetectionLongSide = 800;

// The faces in `picture`, in its own pixel coordinates (clipped to it). No faces for a null picture, one
// too small to hold a face, or when the cascade cannot be loaded. Any image format. Safe to call from
// several threads at once: each thread loads its own classifier once and keeps it. Matches FaceFinder
// (render/moving_photo.h).
std::vector<QRectF> findFaces(const QImage& picture);

// findFaces with the cascade read from another folder (which holds lbpcascades/ as kFaceCascadeFolder
// does); each thread loads a folder's cascade once.
std::vector<QRectF> findFacesWithCascades(const QImage& picture, const std::string& cascadeFolder);

}  // namespace kestrelle
