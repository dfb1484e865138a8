#pragma once
// Camera sources in the terms the camera capture works in: the capture devices with their friendly
// names, links and picture formats (V4L2 nodes, or the stand-ins a VELDMIX_CAMERAS file names), a
// capture opened at one of those formats, and the conversion of each frame to 32-bit pixels.
// A capture runs on one thread; listing may run on any.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The picture formats a camera offers, by the names its format label uses.
enum class CameraSubtype { Mjpeg, Nv12, Yuy2, Other };
// "MJPEG", "NV12", "YUY2" or "other".
const wchar_t* CameraSubtypeName(CameraSubtype subtype);

struct CameraFormat {
  int width = 0;   // 0 when the source does not say
  int height = 0;
  double fps = 0;  // 0 when the source does not say
  CameraSubtype subtype = CameraSubtype::Other;
  uint32_t fourcc = 0;  // V4L2's pixel format code; 0 for a stand-in
};

struct CameraSource {
  std::wstring name;  // friendly name; may be empty
  std::wstring link;  // the /dev/v4l/by-id path, else the node; a stand-in's own link
  std::string path;   // the node or the stand-in's FIFO
  std::string demuxer;  // "v4l2", or the stand-in's FFmpeg input format
  std::string options;  // a stand-in's FFmpeg options, "key=value" separated by blanks
  std::vector<CameraFormat> formats;  // in the device's own order
};

// The cameras: the stand-ins of the file VELDMIX_CAMERAS names when it is set (one a line:
// name, link, FIFO, FFmpeg format, options, separated by tabs; a bad line is skipped), else every
// V4L2 node that captures video, in node order. A node that cannot be opened is still listed
// (by its sysfs name, without formats) so that opening it reports why.
std::vector<CameraSource> ListCameraSources();
// The stand-ins of one such file; a stand-in offers the single format its options describe
// (video_size, framerate; pixel_format for rawvideo).
std::vector<CameraSource> ReadStandInCameras(const std::string& file);

// Why opening or reading stopped.
enum class CameraFault {
  None,
  NoAccess,     // the system refuses this account the device (EACCES, EPERM)
  WontStart,    // missing, busy or refusing to stream
  Unsupported,  // no picture format we can convert
  Stopped,      // the stop flag was raised
  Ended,        // unplugged, a device error or the end of the stream (ENODEV, EIO, EOF)
};

// Turns one camera frame into pixels with bytes B, G, R, A (alpha 0xFF), top row first.
class CameraConverter {
 public:
  // width and height: what the format promises (0 for "whatever the frame says", only for MJPEG).
  // Yuy2 and Nv12 need both; Other is refused (null).
  static std::unique_ptr<CameraConverter> Make(CameraSubtype subtype, int width, int height);
  ~CameraConverter();
  CameraConverter(const CameraConverter&) = delete;
  CameraConverter& operator=(const CameraConverter&) = delete;
  // Converts one frame of `size` bytes. False (pixels untouched) when the frame's byte length or
  // its decoded size disagrees with the format, or it does not decode: the frame is skipped.
  bool Convert(const uint8_t* data, size_t size, std::vector<uint32_t>* pixels, int* width, int* height);

 private:
  CameraConverter() = default;
  struct State;
  State* state_ = nullptr;
};

// One running capture.
class CameraCapture {
 public:
  // Opens the source at formats[format] (-1: the source's own default) and starts streaming.
  // Waits for the stand-in's producer or the device while *stop stays false, checking it at least
  // every 20 ms. Null with *fault on failure.
  static std::unique_ptr<CameraCapture> Open(const CameraSource& source, int format, const std::atomic<bool>* stop,
                                             CameraFault* fault);
  ~CameraCapture();
  CameraCapture(const CameraCapture&) = delete;
  CameraCapture& operator=(const CameraCapture&) = delete;
  // Waits for the next frame and converts it. None with a frame in *pixels; None with *pixels
  // untouched and *skipped set for a frame that had to be skipped; otherwise why it stopped.
  CameraFault Next(std::vector<uint32_t>* pixels, int* width, int* height, bool* skipped);

  struct State;  // opaque outside platform/

 private:
  CameraCapture() = default;
  State* state_ = nullptr;
};
