// PLACEHOLDER: the EXIF reader lives here.
namespace vorlix_core::exif {}
