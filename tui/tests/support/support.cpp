// Anchor of the test support library, so that it always has a source file.
namespace test_support {
int anchor = 0;
}
