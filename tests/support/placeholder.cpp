// Keeps the support library non-empty until helpers land.
namespace vorlan_test {
int SupportLinked() { return 1; }
}
