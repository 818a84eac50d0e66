#pragma once

#include <cairo.h>
#include <cstdint>
#include <string>

namespace tarnvel::qc::test {

// A PNG file read back for its pixels (0xRRGGBB).
class PngImage {
public:
    explicit PngImage(const std::string& path)
        : s_(cairo_image_surface_create_from_png(path.c_str()))
    {
    }
    ~PngImage() { cairo_surface_destroy(s_); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    bool ok() const { return cairo_surface_status(s_) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(s_); }
    int height() const { return cairo_image_surface_get_height(s_); }
    std::uint32_t at(int x, int y) const
    {
        const unsigned char* row =
            cairo_image_surface_get_data(s_) +
            static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s_);
        return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFF;
    }

private:
    cairo_surface_t* s_;
};

} // namespace tarnvel::qc::test
