// The tag table, kept in the row order of the tag reference file (exif-tags.tsv among the test
// fixtures); exif_reader_test compares every row with that file.
#include "exif/tag_table.hpp"

#include <algorithm>

namespace vorlix_core::exif {
namespace {

constexpr EnumPair kCompressionPairs[] = {
    {"1", "uncompressed"},
    {"2", "Modified Huffman"},
    {"6", "JPEG"},
    {"32773", "PackBits"},
};

constexpr EnumPair kPhotometricInterpretationPairs[] = {
    {"0", "white is zero"}, {"1", "black is zero"},     {"2", "RGB"},
    {"3", "palette color"}, {"4", "transparency mask"}, {"6", "YCbCr"},
};

constexpr EnumPair kOrientationPairs[] = {
    {"1", "row 0 at top and column 0 at left"},     {"2", "row 0 at top and column 0 at right"},
    {"3", "row 0 at bottom and column 0 at right"}, {"4", "row 0 at bottom and column 0 at left"},
    {"5", "row 0 at left and column 0 at top"},     {"6", "row 0 at right and column 0 at top"},
    {"7", "row 0 at right and column 0 at bottom"}, {"8", "row 0 at left and column 0 at bottom"},
};

constexpr EnumPair kPlanarConfigurationPairs[] = {
    {"1", "chunky"},
    {"2", "planar"},
};

constexpr EnumPair kResolutionUnitPairs[] = {
    {"1", "no absolute unit"},
    {"2", "inch"},
    {"3", "cm"},
};

constexpr EnumPair kYCbCrSubSamplingPairs[] = {
    {"1,1", "full horizontally, full vertically (4:4:4)"},
    {"2,1", "half horizontally, full vertically (4:2:2)"},
    {"2,2", "half horizontally, half vertically (4:2:0)"},
    {"4,1", "quarter horizontally, full vertically (4:1:1)"},
    {"4,2", "quarter horizontally, half vertically"},
    {"4,4", "quarter horizontally, quarter vertically"},
};

constexpr EnumPair kYCbCrPositioningPairs[] = {
    {"1", "centered"},
    {"2", "co-sited"},
};

constexpr EnumPair kExposureProgramPairs[] = {
    {"0", "not defined"},       {"1", "manual"},           {"2", "normal program"},
    {"3", "aperture priority"}, {"4", "shutter priority"}, {"5", "creative program"},
    {"6", "action program"},    {"7", "portrait mode"},    {"8", "landscape mode"},
};

constexpr EnumPair kSensitivityTypePairs[] = {
    {"0", "unknown"}, {"1", "SOS"},           {"2", "REI"},           {"3", "ISO speed"},
    {"4", "SOS/REI"}, {"5", "SOS/ISO speed"}, {"6", "REI/ISO speed"}, {"7", "SOS/REI/ISO speed"},
};

constexpr EnumPair kMeteringModePairs[] = {
    {"0", "unknown"}, {"1", "average"},    {"2", "center-weighted average"},
    {"3", "spot"},    {"4", "multi-spot"}, {"5", "pattern"},
    {"6", "partial"}, {"255", "other"},
};

constexpr EnumPair kLightSourcePairs[] = {
    {"0", "unknown"},
    {"1", "daylight"},
    {"2", "fluorescent"},
    {"3", "tungsten"},
    {"4", "flash"},
    {"9", "fine weather"},
    {"10", "cloudy weather"},
    {"11", "shade"},
    {"12", "daylight fluorescent (D 5700-7100K)"},
    {"13", "day white fluorescent (N 4600-5500K)"},
    {"14", "cool white fluorescent (W 3800-4500K)"},
    {"15", "white fluorescent (WW 3250-3800K)"},
    {"16", "warm white fluorescent (L 2600-3250K)"},
    {"17", "standard light A"},
    {"18", "standard light B"},
    {"19", "standard light C"},
    {"20", "D55"},
    {"21", "D65"},
    {"22", "D75"},
    {"23", "D50"},
    {"24", "ISO studio tungsten"},
    {"255", "other"},
};

constexpr EnumPair kColorSpacePairs[] = {
    {"1", "sRGB"},
    {"65535", "uncalibrated"},
};

constexpr EnumPair kFocalPlaneResolutionUnitPairs[] = {
    {"1", "no absolute unit"},
    {"2", "inch"},
    {"3", "cm"},
};

constexpr EnumPair kSensingMethodPairs[] = {
    {"1", "not defined"},
    {"2", "one-chip color area sensor"},
    {"3", "two-chip color area sensor"},
    {"4", "three-chip color area sensor"},
    {"5", "color sequential area sensor"},
    {"7", "trilinear sensor"},
    {"8", "color sequential linear sensor"},
};

constexpr EnumPair kFileSourcePairs[] = {
    {"0", "others"},
    {"1", "transparency scanner"},
    {"2", "reflective scanner"},
    {"3", "digital still camera"},
};

constexpr EnumPair kSceneTypePairs[] = {
    {"1", "directly photographed image"},
};

constexpr EnumPair kCustomRenderedPairs[] = {
    {"0", "normal process"},
    {"1", "custom process"},
};

constexpr EnumPair kExposureModePairs[] = {
    {"0", "auto exposure"},
    {"1", "manual exposure"},
    {"2", "auto bracket"},
};

constexpr EnumPair kWhiteBalancePairs[] = {
    {"0", "auto white balance"},
    {"1", "manual white balance"},
};

constexpr EnumPair kSceneCaptureTypePairs[] = {
    {"0", "standard"},
    {"1", "landscape"},
    {"2", "portrait"},
    {"3", "night scene"},
};

constexpr EnumPair kGainControlPairs[] = {
    {"0", "none"},          {"1", "low gain up"},    {"2", "high gain up"},
    {"3", "low gain down"}, {"4", "high gain down"},
};

constexpr EnumPair kContrastPairs[] = {
    {"0", "normal"},
    {"1", "soft"},
    {"2", "hard"},
};

constexpr EnumPair kSaturationPairs[] = {
    {"0", "normal"},
    {"1", "low saturation"},
    {"2", "high saturation"},
};

constexpr EnumPair kSharpnessPairs[] = {
    {"0", "normal"},
    {"1", "soft"},
    {"2", "hard"},
};

constexpr EnumPair kSubjectDistanceRangePairs[] = {
    {"0", "unknown"},
    {"1", "macro"},
    {"2", "close view"},
    {"3", "distant view"},
};

constexpr EnumPair kCompositeImagePairs[] = {
    {"0", "unknown"},
    {"1", "non-composite"},
    {"2", "composite (general)"},
    {"3", "composite (at the moment of shooting)"},
};

constexpr EnumPair kGPSAltitudeRefPairs[] = {
    {"0", "above sea level"},
    {"1", "below sea level"},
};

constexpr EnumPair kGPSStatusPairs[] = {
    {"A", "measurement in progress"},
    {"V", "measurement interrupted"},
};

constexpr EnumPair kGPSMeasureModePairs[] = {
    {"2", "2-dimensional measurement"},
    {"3", "3-dimensional measurement"},
};

constexpr EnumPair kGPSSpeedRefPairs[] = {
    {"K", "km/h"},
    {"M", "mph"},
    {"N", "knots"},
};

constexpr EnumPair kGPSTrackRefPairs[] = {
    {"T", "true direction"},
    {"M", "magnetic direction"},
};

constexpr EnumPair kGPSImgDirectionRefPairs[] = {
    {"T", "true direction"},
    {"M", "magnetic direction"},
};

constexpr EnumPair kGPSDestBearingRefPairs[] = {
    {"T", "true direction"},
    {"M", "magnetic direction"},
};

constexpr EnumPair kGPSDestDistanceRefPairs[] = {
    {"K", "km"},
    {"M", "miles"},
    {"N", "nautical miles"},
};

constexpr EnumPair kGPSDifferentialPairs[] = {
    {"0", "no differential correction"},
    {"1", "differential correction applied"},
};

constexpr TagInfo kTags[] = {
    {Tag{Context::Tiff, 34665}, "ExifIFDPointer", Display::Pointer, {}, {}, "", {}},
    {Tag{Context::Tiff, 34853}, "GPSInfoIFDPointer", Display::Pointer, {}, {}, "", {}},
    {Tag{Context::Exif, 40965}, "InteropIFDPointer", Display::Pointer, {}, {}, "", {}},
    {Tag{Context::Tiff, 256},
     "ImageWidth",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Tiff, 257},
     "ImageLength",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Tiff, 258},
     "BitsPerSample",
     Display::Plain,
     {},
     {},
     "",
     {type::kShort, 3, std::string_view("\x00\x08\x00\x08\x00\x08", 6)}},
    {Tag{Context::Tiff, 259},
     "Compression",
     Display::Enum,
     {},
     kCompressionPairs,
     "compression",
     {}},
    {Tag{Context::Tiff, 262},
     "PhotometricInterpretation",
     Display::Enum,
     {},
     kPhotometricInterpretationPairs,
     "photometric interpretation",
     {}},
    {Tag{Context::Tiff, 270}, "ImageDescription", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 271}, "Make", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 272}, "Model", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 273}, "StripOffsets", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 274},
     "Orientation",
     Display::Enum,
     {},
     kOrientationPairs,
     "orientation",
     {type::kShort, 1, std::string_view("\x00\x01", 2)}},
    {Tag{Context::Tiff, 277},
     "SamplesPerPixel",
     Display::Plain,
     {},
     {},
     "",
     {type::kShort, 1, std::string_view("\x00\x03", 2)}},
    {Tag{Context::Tiff, 278}, "RowsPerStrip", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 279}, "StripByteCounts", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 282},
     "XResolution",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " pixels per ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Tiff, 296}}}},
     {},
     "",
     {type::kRational, 1, std::string_view("\x00\x00\x00\x48\x00\x00\x00\x01", 8)}},
    {Tag{Context::Tiff, 283},
     "YResolution",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " pixels per ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Tiff, 296}}}},
     {},
     "",
     {type::kRational, 1, std::string_view("\x00\x00\x00\x48\x00\x00\x00\x01", 8)}},
    {Tag{Context::Tiff, 284},
     "PlanarConfiguration",
     Display::Enum,
     {},
     kPlanarConfigurationPairs,
     "planar configuration",
     {type::kShort, 1, std::string_view("\x00\x01", 2)}},
    {Tag{Context::Tiff, 296},
     "ResolutionUnit",
     Display::Enum,
     {},
     kResolutionUnitPairs,
     "resolution unit",
     {type::kShort, 1, std::string_view("\x00\x02", 2)}},
    {Tag{Context::Tiff, 301}, "TransferFunction", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 305}, "Software", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 306}, "DateTime", Display::DateTime, {}, {}, "", {}},
    {Tag{Context::Tiff, 315}, "Artist", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 318}, "WhitePoint", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Tiff, 319}, "PrimaryChromaticities", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Tiff, 324}, "TileOffsets", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 325}, "TileByteCounts", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 513}, "JPEGInterchangeFormat", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 514}, "JPEGInterchangeFormatLength", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Tiff, 529}, "YCbCrCoefficients", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Tiff, 530},
     "YCbCrSubSampling",
     Display::YCbCrSubSamp,
     {},
     kYCbCrSubSamplingPairs,
     "",
     {}},
    {Tag{Context::Tiff, 531},
     "YCbCrPositioning",
     Display::Enum,
     {},
     kYCbCrPositioningPairs,
     "YCbCr positioning",
     {type::kShort, 1, std::string_view("\x00\x01", 2)}},
    {Tag{Context::Tiff, 532}, "ReferenceBlackWhite", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Tiff, 33432}, "Copyright", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 33434},
     "ExposureTime",
     Display::ExpTime,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " s", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 33437},
     "FNumber",
     Display::Decimal,
     {{{UnitPiece::Kind::Text, "f/", {}}, {UnitPiece::Kind::Value, {}, {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 34850},
     "ExposureProgram",
     Display::Enum,
     {},
     kExposureProgramPairs,
     "exposure program",
     {}},
    {Tag{Context::Exif, 34852}, "SpectralSensitivity", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34855}, "PhotographicSensitivity", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34856}, "OECF", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34864},
     "SensitivityType",
     Display::Enum,
     {},
     kSensitivityTypePairs,
     "sensitivity type",
     {}},
    {Tag{Context::Exif, 34865}, "StandardOutputSensitivity", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34866}, "RecommendedExposureIndex", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34867}, "ISOSpeed", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34868}, "ISOSpeedLatitudeyyy", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 34869}, "ISOSpeedLatitudezzz", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 36864}, "ExifVersion", Display::ExifVer, {}, {}, "", {}},
    {Tag{Context::Exif, 36867}, "DateTimeOriginal", Display::DateTime, {}, {}, "", {}},
    {Tag{Context::Exif, 36868}, "DateTimeDigitized", Display::DateTime, {}, {}, "", {}},
    {Tag{Context::Exif, 36880}, "OffsetTime", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 36881}, "OffsetTimeOriginal", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 36882}, "OffsetTimeDigitized", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37121}, "ComponentsConfiguration", Display::CpntCfg, {}, {}, "", {}},
    {Tag{Context::Exif, 37122}, "CompressedBitsPerPixel", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Exif, 37377},
     "ShutterSpeedValue",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " EV", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37378},
     "ApertureValue",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " EV", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37379},
     "BrightnessValue",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " EV", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37380},
     "ExposureBiasValue",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " EV", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37381},
     "MaxApertureValue",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " EV", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37382},
     "SubjectDistance",
     Display::SubjDist,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " m", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37383},
     "MeteringMode",
     Display::Enum,
     {},
     kMeteringModePairs,
     "metering mode",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 37384},
     "LightSource",
     Display::Enum,
     {},
     kLightSourcePairs,
     "light source",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 37385}, "Flash", Display::Flash, {}, {}, "", {}},
    {Tag{Context::Exif, 37386},
     "FocalLength",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " mm", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37396}, "SubjectArea", Display::SubjArea, {}, {}, "", {}},
    {Tag{Context::Exif, 37500}, "MakerNote", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37510}, "UserComment", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37520}, "SubSecTime", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37521}, "SubSecTimeOriginal", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37522}, "SubSecTimeDigitized", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 37888},
     "Temperature",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " degC", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37889},
     "Humidity",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " %", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37890},
     "Pressure",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " hPa", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37891},
     "WaterDepth",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " m", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37892},
     "Acceleration",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " mGal", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 37893},
     "CameraElevationAngle",
     Display::OptDecimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " deg", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 40960},
     "FlashpixVersion",
     Display::ExifVer,
     {},
     {},
     "",
     {type::kUndefined, 4, std::string_view("\x30\x31\x30\x30", 4)}},
    {Tag{Context::Exif, 40961},
     "ColorSpace",
     Display::Enum,
     {},
     kColorSpacePairs,
     "color space",
     {}},
    {Tag{Context::Exif, 40962},
     "PixelXDimension",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 40963},
     "PixelYDimension",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 40964}, "RelatedSoundFile", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 41483},
     "FlashEnergy",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " BCPS", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 41484}, "SpatialFrequencyResponse", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 41486},
     "FocalPlaneXResolution",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " pixels per ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Exif, 41488}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 41487},
     "FocalPlaneYResolution",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " pixels per ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Exif, 41488}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 41488},
     "FocalPlaneResolutionUnit",
     Display::Enum,
     {},
     kFocalPlaneResolutionUnitPairs,
     "resolution unit",
     {type::kShort, 1, std::string_view("\x00\x02", 2)}},
    {Tag{Context::Exif, 41492}, "SubjectLocation", Display::SubjArea, {}, {}, "", {}},
    {Tag{Context::Exif, 41493}, "ExposureIndex", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Exif, 41495},
     "SensingMethod",
     Display::Enum,
     {},
     kSensingMethodPairs,
     "sensing method",
     {}},
    {Tag{Context::Exif, 41728},
     "FileSource",
     Display::EnumUndef,
     {},
     kFileSourcePairs,
     "file source",
     {type::kUndefined, 1, std::string_view("\x03", 1)}},
    {Tag{Context::Exif, 41729},
     "SceneType",
     Display::EnumUndef,
     {},
     kSceneTypePairs,
     "scene type",
     {type::kUndefined, 1, std::string_view("\x01", 1)}},
    {Tag{Context::Exif, 41730}, "CFAPattern", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 41985},
     "CustomRendered",
     Display::Enum,
     {},
     kCustomRenderedPairs,
     "custom rendered",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 41986},
     "ExposureMode",
     Display::Enum,
     {},
     kExposureModePairs,
     "exposure mode",
     {}},
    {Tag{Context::Exif, 41987},
     "WhiteBalance",
     Display::Enum,
     {},
     kWhiteBalancePairs,
     "white balance mode",
     {}},
    {Tag{Context::Exif, 41988}, "DigitalZoomRatio", Display::DZoomRatio, {}, {}, "", {}},
    {Tag{Context::Exif, 41989},
     "FocalLengthIn35mmFilm",
     Display::FocalLen35,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " mm", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Exif, 41990},
     "SceneCaptureType",
     Display::Enum,
     {},
     kSceneCaptureTypePairs,
     "scene capture type",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 41991},
     "GainControl",
     Display::Enum,
     {},
     kGainControlPairs,
     "gain control",
     {}},
    {Tag{Context::Exif, 41992},
     "Contrast",
     Display::Enum,
     {},
     kContrastPairs,
     "contrast processing",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 41993},
     "Saturation",
     Display::Enum,
     {},
     kSaturationPairs,
     "saturation processing",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 41994},
     "Sharpness",
     Display::Enum,
     {},
     kSharpnessPairs,
     "sharpness processing",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 41995}, "DeviceSettingDescription", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 41996},
     "SubjectDistanceRange",
     Display::Enum,
     {},
     kSubjectDistanceRangePairs,
     "subject distance range",
     {}},
    {Tag{Context::Exif, 42016}, "ImageUniqueID", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42032}, "CameraOwnerName", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42033}, "BodySerialNumber", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42034}, "LensSpecification", Display::LensSpec, {}, {}, "", {}},
    {Tag{Context::Exif, 42035}, "LensMake", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42036}, "LensModel", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42037}, "LensSerialNumber", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Exif, 42080},
     "CompositeImage",
     Display::Enum,
     {},
     kCompositeImagePairs,
     "composite image",
     {type::kShort, 1, std::string_view("\x00\x00", 2)}},
    {Tag{Context::Exif, 42081},
     "SourceImageNumberOfCompositeImage",
     Display::NumCpstImg,
     {},
     {},
     "",
     {}},
    {Tag{Context::Exif, 42082},
     "SourceExposureTimesOfCompositeImage",
     Display::Plain,
     {},
     {},
     "",
     {}},
    {Tag{Context::Exif, 42240}, "Gamma", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Gps, 0}, "GPSVersionID", Display::GpsVer, {}, {}, "", {}},
    {Tag{Context::Gps, 1}, "GPSLatitudeRef", Display::GpsLatLongRef, {}, {}, "", {}},
    {Tag{Context::Gps, 2},
     "GPSLatitude",
     Display::GpsDms,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 1}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 3}, "GPSLongitudeRef", Display::GpsLatLongRef, {}, {}, "", {}},
    {Tag{Context::Gps, 4},
     "GPSLongitude",
     Display::GpsDms,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 3}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 5},
     "GPSAltitudeRef",
     Display::Enum,
     {},
     kGPSAltitudeRefPairs,
     "GPS altitude ref",
     {type::kByte, 1, std::string_view("\x00", 1)}},
    {Tag{Context::Gps, 6},
     "GPSAltitude",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " meters ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 5}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 7}, "GPSTimeStamp", Display::GpsTimeStamp, {}, {}, "", {}},
    {Tag{Context::Gps, 8}, "GPSSatellites", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Gps, 9}, "GPSStatus", Display::EnumAscii, {}, kGPSStatusPairs, "GPS status", {}},
    {Tag{Context::Gps, 10},
     "GPSMeasureMode",
     Display::EnumAscii,
     {},
     kGPSMeasureModePairs,
     "GPS measurement mode",
     {}},
    {Tag{Context::Gps, 11}, "GPSDOP", Display::Decimal, {}, {}, "", {}},
    {Tag{Context::Gps, 12},
     "GPSSpeedRef",
     Display::EnumAscii,
     {},
     kGPSSpeedRefPairs,
     "GPS speed ref",
     {type::kAscii, 1, std::string_view("\x4b", 1)}},
    {Tag{Context::Gps, 13},
     "GPSSpeed",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 12}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 14},
     "GPSTrackRef",
     Display::EnumAscii,
     {},
     kGPSTrackRefPairs,
     "GPS direction ref",
     {type::kAscii, 1, std::string_view("\x54", 1)}},
    {Tag{Context::Gps, 15},
     "GPSTrack",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " degrees in ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 14}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 16},
     "GPSImgDirectionRef",
     Display::EnumAscii,
     {},
     kGPSImgDirectionRefPairs,
     "GPS direction ref",
     {type::kAscii, 1, std::string_view("\x54", 1)}},
    {Tag{Context::Gps, 17},
     "GPSImgDirection",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " degrees in ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 16}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 18}, "GPSMapDatum", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Gps, 19}, "GPSDestLatitudeRef", Display::GpsLatLongRef, {}, {}, "", {}},
    {Tag{Context::Gps, 20},
     "GPSDestLatitude",
     Display::GpsDms,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 19}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 21}, "GPSDestLongitudeRef", Display::GpsLatLongRef, {}, {}, "", {}},
    {Tag{Context::Gps, 22},
     "GPSDestLongitude",
     Display::GpsDms,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 21}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 23},
     "GPSDestBearingRef",
     Display::EnumAscii,
     {},
     kGPSDestBearingRefPairs,
     "GPS direction ref",
     {type::kAscii, 1, std::string_view("\x54", 1)}},
    {Tag{Context::Gps, 24},
     "GPSDestBearing",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " degrees in ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 23}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 25},
     "GPSDestDistanceRef",
     Display::EnumAscii,
     {},
     kGPSDestDistanceRefPairs,
     "GPS distance ref",
     {type::kAscii, 1, std::string_view("\x4b", 1)}},
    {Tag{Context::Gps, 26},
     "GPSDestDistance",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}},
       {UnitPiece::Kind::Text, " ", {}},
       {UnitPiece::Kind::Ref, {}, Tag{Context::Gps, 25}}}},
     {},
     "",
     {}},
    {Tag{Context::Gps, 27}, "GPSProcessingMethod", Display::AsciiInUndef, {}, {}, "", {}},
    {Tag{Context::Gps, 28}, "GPSAreaInformation", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Gps, 29}, "GPSDateStamp", Display::GpsDateStamp, {}, {}, "", {}},
    {Tag{Context::Gps, 30},
     "GPSDifferential",
     Display::Enum,
     {},
     kGPSDifferentialPairs,
     "GPS differential correction",
     {}},
    {Tag{Context::Gps, 31},
     "GPSHPositioningError",
     Display::Decimal,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " m", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Interop, 1}, "InteroperabilityIndex", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Interop, 2}, "InteroperabilityVersion", Display::InteropVer, {}, {}, "", {}},
    {Tag{Context::Interop, 4096}, "RelatedImageFileFormat", Display::Plain, {}, {}, "", {}},
    {Tag{Context::Interop, 4097},
     "RelatedImageWidth",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
    {Tag{Context::Interop, 4098},
     "RelatedImageLength",
     Display::Plain,
     {{{UnitPiece::Kind::Value, {}, {}}, {UnitPiece::Kind::Text, " pixels", {}}}},
     {},
     "",
     {}},
};

constexpr std::string_view kDisplayNames[] = {
    "plain",          "decimal",      "optdecimal",    "enum",    "enum_undef",   "enum_ascii",
    "flash",          "ycbcrsubsamp", "datetime",      "exptime", "subjdist",     "dzoomratio",
    "focallen35",     "exifver",      "interopver",    "cpntcfg", "subjarea",     "lensspec",
    "numcpstimg",     "gpsver",       "gpslatlongref", "gpsdms",  "gpstimestamp", "gpsdatestamp",
    "ascii_in_undef", "pointer",
};
static_assert(std::size(kDisplayNames) == static_cast<size_t>(Display::Pointer) + 1);

constexpr std::string_view kContextNames[] = {"Tiff", "Exif", "Gps", "Interop"};

}  // namespace

std::string_view display_name(Display d) {
  return kDisplayNames[static_cast<size_t>(d)];
}

std::string_view context_name(Context c) {
  return kContextNames[static_cast<size_t>(c)];
}

uint8_t context_rank(Context c) {
  static constexpr auto kRanks = [] {
    std::array<uint8_t, std::size(kContextNames)> ranks{};
    for (size_t i = 0; i < ranks.size(); ++i) {
      for (std::string_view other : kContextNames)
        ranks[i] = static_cast<uint8_t>(ranks[i] + (other < kContextNames[i] ? 1 : 0));
    }
    return ranks;
  }();
  return kRanks[static_cast<size_t>(c)];
}

std::span<const TagInfo> tag_table() {
  return kTags;
}

namespace {

constexpr auto tag_key(Tag t) {
  return (uint32_t{static_cast<uint8_t>(t.context)} << 16) | t.number;
}

// Row numbers ordered by (context, number), the first row of equal tags first: lookups run on
// every field of every parse, so they search this instead of walking the table.
constexpr auto kByTag = [] {
  std::array<uint16_t, std::size(kTags)> order{};
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = static_cast<uint16_t>(i);
  std::sort(order.begin(), order.end(), [](uint16_t a, uint16_t b) {
    const auto ka = tag_key(kTags[a].tag), kb = tag_key(kTags[b].tag);
    return ka != kb ? ka < kb : a < b;
  });
  return order;
}();

// The keys of kByTag's rows, side by side: the search touches one small array, not the rows.
constexpr auto kSortedKeys = [] {
  std::array<uint32_t, std::size(kTags)> keys{};
  for (size_t i = 0; i < keys.size(); ++i)
    keys[i] = tag_key(kTags[kByTag[i]].tag);
  return keys;
}();

// Ranks of the names by row, and the rank of the generic names.
struct NameRanks {
  std::array<uint16_t, std::size(kTags)> by_row{};
  uint16_t generic = 0;
};
constexpr NameRanks kNameRanks = [] {
  std::array<uint16_t, std::size(kTags)> order{};
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = static_cast<uint16_t>(i);
  std::sort(order.begin(), order.end(),
            [](uint16_t a, uint16_t b) { return kTags[a].name < kTags[b].name; });
  constexpr std::string_view kGenericPrefix = "Tag(";
  NameRanks ranks;
  uint16_t next = 0;
  bool generic_placed = false;
  for (uint16_t row : order) {
    if (!generic_placed && !(kTags[row].name < kGenericPrefix)) {
      ranks.generic = next++;
      generic_placed = true;
    }
    ranks.by_row[row] = next++;
  }
  if (!generic_placed) ranks.generic = next;
  return ranks;
}();

}  // namespace

uint16_t name_rank(const TagInfo& info) {
  return kNameRanks.by_row[static_cast<size_t>(&info - kTags)];
}

uint16_t generic_name_rank() {
  return kNameRanks.generic;
}

const TagInfo* find_tag(Tag tag) {
  const auto key = tag_key(tag);
  const auto it = std::lower_bound(kSortedKeys.begin(), kSortedKeys.end(), key);
  if (it == kSortedKeys.end() || *it != key) return nullptr;
  return &kTags[kByTag[static_cast<size_t>(it - kSortedKeys.begin())]];
}

}  // namespace vorlix_core::exif
