// PLACEHOLDER: the OLE compound-file check used by the Office entries of the sniff table.
namespace vorlix_core {}
