#pragma once

// Compressed logs (rotated name.gz, name.xz, ...) recognised by their content and
// decompressed through one small interface over the libraries made for each format: zlib
// (gzip), libbz2, liblzma (xz) and libzstd. Concatenated streams (gzip members, bzip2
// streams, xz streams, zstd frames) decompress as one, as zcat and friends do.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class CompressionFormat { None, Gzip, Bzip2, Xz, Zstd };

// The format the first bytes announce (magic numbers); None for anything else, fewer
// bytes than a magic included. Pure; any thread.
CompressionFormat detectCompression(const std::uint8_t* bytes, std::size_t n);
// The same for the start of a regular file; None when it cannot be read.
CompressionFormat detectCompressionOfFile(const std::string& path);
// "gzip", "bzip2", "xz", "zstd" (or "" for None).
const char* compressionName(CompressionFormat format);

// One decompressor for one format. Not thread-safe: one thread at a time.
class StreamDecoder {
  public:
    enum class Step {
        Progress,  // input consumed or output made; call again with more of either
        StreamEnd, // a whole stream (member, frame) ended; more may follow
        Error,     // the data is damaged; errorText() says how
    };
    virtual ~StreamDecoder() = default;
    // Consumes from [in, in + inLeft) and writes to [out, out + outLeft), advancing both.
    // last: the input given is the end of the file (some formats need to know).
    virtual Step decode(const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t*& out,
                        std::size_t& outLeft, bool last) = 0;
    // Ready for the next concatenated stream.
    virtual bool restart() = 0;
    // Whether the format joins its streams by itself (then StreamEnd comes only at the end).
    virtual bool joinsStreams() const { return false; }
    virtual std::string errorText() const = 0;
};

// nullptr for None.
std::unique_ptr<StreamDecoder> makeStreamDecoder(CompressionFormat format);

struct DecompressResult {
    enum class Outcome {
        Complete,
        Cancelled,
        Damaged,    // detail: the library's words
        Truncated,  // the file ends inside a stream
        ReadError,  // detail: errno
        WriteError, // detail: errno
        DiskFull,   // the output's file system reached its reserve
    };
    Outcome outcome = Outcome::Complete;
    std::string detail;
    int error = 0;
    std::uint64_t consumed = 0; // input bytes read
    std::uint64_t produced = 0; // bytes written
};

// What decompressStream gathers before it writes: writes this large cost the least processor
// time in all (a larger buffer no longer stays in the processor's cache).
constexpr std::size_t DecompressWriteBytes = 1 << 20;

// Decompresses in to out, both file descriptors (not closed), on the calling thread.
// consumed is updated as input is read (progress for another thread); cancel is checked
// between blocks. reserveBytes: the output stops (DiskFull) before its file system would
// have less than this free; 0 checks nothing but ENOSPC. Whatever was decompressed before
// an error or a cancel is written. The output is written in large steps of at most
// writeBytes that end at a line end, so a reader following out sees whole lines: only a
// line longer than writeBytes is written in parts (never parting a UTF-8 character), and
// the end of the text, whole or cut by damage, goes out as it is.
DecompressResult decompressStream(CompressionFormat format, int in, int out,
                                  const std::atomic<bool>& cancel,
                                  std::atomic<std::uint64_t>& consumed, std::int64_t reserveBytes,
                                  std::size_t writeBytes = DecompressWriteBytes);
// Where a write of the n decoded bytes ends (decompressStream): after the last line feed
// (and a zero byte after it, the rest of a UTF-16 little-endian line feed); with no line
// feed, before a UTF-8 character cut by the end, else at n. Pure.
std::size_t decompressWriteCut(const std::uint8_t* bytes, std::size_t n);
