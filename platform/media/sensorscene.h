#pragma once
// What the simulated camera sensor sees: one NV12 picture per frame.
//
// Either the pictures of a folder (ORVALE_SENSOR_IMAGES: every file OpenCV
// can read, in name order, scaled to the frame size, shown in a loop), or a
// generated scene: a still mould-like picture with sensor noise that
// changes every frame and a block moving across it. The generated scene
// carries the frame number in its first and its last luma row, so that a
// reader can tell a whole frame (both rows agree) from a torn one.
//
// ORVALE_SENSOR_PART names a file: while it exists, the generated scene
// shows a dark moulded part left in the second cavity of the mould (a
// mould that is not empty), looked for at every frame.
//
// Threads: render may run on one thread while another constructs a scene;
// one scene is not meant to be rendered from two threads at once.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class SensorScene {
public:
    // Picks the folder of ORVALE_SENSOR_IMAGES when set and it yields at
    // least one picture (a warning is logged otherwise), else the generated
    // scene. width and height: positive and even.
    SensorScene(int width, int height);
    // The generated scene, whatever the environment says.
    static SensorScene generated(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int frameBytes() const { return m_width * m_height * 3 / 2; }
    // True when the pictures come from the folder.
    bool fromFolder() const { return !m_pictures.empty(); }

    // Writes frame `number` into nv12 (frameBytes() bytes).
    void render(uint32_t number, uint8_t* nv12) const;

    // Where the generated scene draws the part left in a cavity (luma
    // pixels): centre and half-axes of an ellipse.
    struct Part {
        int x, y, halfWidth, halfHeight;
    };
    Part part() const;

    // The frame number as the generated scene writes it into a luma row of
    // `width` pixels (32 blocks, one per bit, most significant first), and
    // read back; width at least 32.
    static void writeFrameNumber(uint8_t* row, int width, uint32_t number);
    static uint32_t readFrameNumber(const uint8_t* row, int width);

private:
    struct Generated {};
    SensorScene(int width, int height, Generated);
    void generate();
    bool loadFolder(const char* folder);

    int m_width = 0;
    int m_height = 0;
    std::vector<std::vector<uint8_t>> m_pictures;  // from the folder, NV12
    std::vector<std::vector<uint8_t>> m_noisyLuma;  // generated: a few noisy luma planes
    std::vector<uint8_t> m_chroma;                 // generated: the chroma plane
    std::string m_partFile;                        // ORVALE_SENSOR_PART, empty when not set
};

}  // namespace platform
