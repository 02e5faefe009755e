// The only code in a language package. The resource bundle compiled beside it registers
// itself from a static initializer when the loader maps the module and unregisters when the
// module is unmapped; these two entry points let the loader find the bundle and check that
// the module really is a package of the format it reads.

#ifndef QUILL_LANGUAGE_CODE
#error "QUILL_LANGUAGE_CODE must name the package's language"
#endif

#define QUILL_PACKAGE_EXPORT extern "C" __attribute__((visibility("default")))

QUILL_PACKAGE_EXPORT const char* quillLanguagePackageRoot()
{
    return ":/lang/" QUILL_LANGUAGE_CODE;
}

QUILL_PACKAGE_EXPORT int quillLanguagePackageFormat()
{
    return 1;
}
