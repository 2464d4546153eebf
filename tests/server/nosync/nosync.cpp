// A disk that lies: fsync and fdatasync report success and do nothing.
// Preloaded into the server and the database, it must make the durability
// tests fail; that they then fail is what shows they can.
extern "C" {

int fsync(int) { return 0; }

int fdatasync(int) { return 0; }
}
