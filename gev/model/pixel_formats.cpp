#include "model/pixel_formats.h"

namespace Kivu {

namespace {

constexpr PixelFormat kTable[] = {
    {"Mono8", 0x01080001},
    {"Mono8Signed", 0x01080002},
    {"Mono10", 0x01100003},
    {"Mono10Packed", 0x010C0004},
    {"Mono12", 0x01100005},
    {"Mono12Packed", 0x010C0006},
    {"Mono14", 0x01100025},
    {"Mono16", 0x01100007},
    {"BayerGR8", 0x01080008},
    {"BayerRG8", 0x01080009},
    {"BayerGB8", 0x0108000A},
    {"BayerBG8", 0x0108000B},
    {"BayerGR10", 0x0110000C},
    {"BayerRG10", 0x0110000D},
    {"BayerGB10", 0x0110000E},
    {"BayerBG10", 0x0110000F},
    {"BayerBG10Packed", 0x010C0029},
    {"BayerGR12", 0x01100010},
    {"BayerRG12", 0x01100011},
    {"BayerGB12", 0x01100012},
    {"BayerBG12", 0x01100013},
    {"BayerBG12Packed", 0x010C002D},
    {"BayerGR10Packed", 0x010C0026},
    {"BayerRG10Packed", 0x010C0027},
    {"BayerGB10Packed", 0x010C0028},
    {"BayerGR12Packed", 0x010C002A},
    {"BayerRG12Packed", 0x010C002B},
    {"BayerGB12Packed", 0x010C002C},
    {"RGB8", 0x02180014},
    {"BGR8", 0x02180015},
    {"RGBa8", 0x02200016},
    {"BGRa8", 0x02200017},
    {"RGB10", 0x02300018},
    {"BGR10", 0x02300019},
    {"RGB12", 0x0230001A},
    {"BGR12", 0x0230001B},
    {"RGB16", 0x02300033},
    {"RGB10V1Packed", 0x0220001C},
    {"RGB10V2Packed", 0x0220001D},
    {"YUV411_8_UYYVYY", 0x020C001E},
    {"YUV422_8_UYVY", 0x0210001F},
    {"YUV8_UYV", 0x02180020},
    {"RGB8Planar", 0x02180021},
    {"RGB10Planar", 0x02300022},
    {"RGB12Planar", 0x02300023},
    {"RGB16Planar", 0x02300024},
    {"BayerGR16", 0x0110002E},
    {"BayerRG16", 0x0110002F},
    {"BayerGB16", 0x01100030},
    {"BayerBG16", 0x01100031},
    {"Coord3D_ABC32f", 0x026000C0},
    {"Coord3D_ABC16", 0x023000B9},
    {"Coord3D_AC16", 0x022000BB},
    {"Coord3D_AC32f", 0x024000C2},
    {"Coord3D_C32f", 0x012000BF},
    {"Coord3D_C16", 0x011000B8},
};
static_assert(std::size(kTable) == 56);

}  // namespace

std::span<const PixelFormat> PixelFormatTable()
{
    return kTable;
}

PixelFormatMaps LoadPixelFormats()
{
    PixelFormatMaps maps;
    for (const PixelFormat& f : kTable) {
        maps.codesByName[f.name] = f.code;
        maps.namesByCode[f.code] = f.name;
    }
    return maps;
}

}  // namespace Kivu
