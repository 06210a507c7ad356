// PLACEHOLDER: container walks that locate the TIFF block.
namespace vorlix_core::exif {}
