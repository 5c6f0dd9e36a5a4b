// Eight-bit RGB images as the programs write them (stills, screenshots) and the tests read them back, through libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class UnfinishedFile;
// libpng's own types (png.h), which callers need not see.
struct png_struct_def;
struct png_info_def;

struct RgbImage8 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // red, green, blue per pixel; top row first
};

// Writes the image as a non-interlaced 8-bit RGB PNG, replacing the file whole or not at all
// (see replaceFile); on failure returns false with a line naming the file in `error`.
bool writePng(const std::string& path, const RgbImage8& image, std::string& error);
// Reads any PNG that libpng can turn into 8-bit RGB (palette, grey, 16-bit and alpha are
// converted; alpha is dropped); on failure returns false with a line naming the file.
bool readPng(const std::string& path, RgbImage8& image, std::string& error);

// Writes an 8-bit RGB PNG of width x height a row at a time, top row first, so that a picture larger
// than memory should hold never is held whole. The file replaces its target whole or not at all (see
// UnfinishedFile): only finish, after the last row, puts it in place; a writer destroyed before then,
// or a run ended by a signal, leaves the target as it was and nothing beside it.
class PngRowWriter {
public:
    // On failure isOpen() is false and `error` names the file.
    PngRowWriter(const std::string& path, int width, int height, std::string& error);
    ~PngRowWriter();
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    bool isOpen() const { return png != nullptr; }
    // Appends the next row, width RGB pixels; false with a line naming the file on failure, after
    // which nothing more is written.
    bool writeRow(const uint8_t* pixels, std::string& error);
    // Ends the file once all rows are in and puts it in place; false with the line otherwise.
    bool finish(std::string& error);

private:
    // libpng's handlers: the bytes go to the unfinished file, errors end the call that met them.
    static void writeBytes(png_struct_def* png, unsigned char* bytes, size_t count);
    static void flushNothing(png_struct_def* png);
    [[noreturn]] static void onError(png_struct_def* png, const char* message);
    static void onWarning(png_struct_def* png, const char* message);
    // Releases libpng and the file, removing it unless it was put in place.
    void close();
    // Fails with a line naming the file and the reason, the writer closed.
    bool failWith(const std::string& reason, std::string& error);

    std::string path;
    std::unique_ptr<UnfinishedFile> file;
    std::FILE* stream = nullptr;
    png_struct_def* png = nullptr;
    png_info_def* info = nullptr;
    int rowsLeft = 0;
    // Why the last libpng call failed, as its error handler heard it.
    std::string failure;
};
