# The version of the program and the service, read before project() by the whole tree and by the
# service built alone.
set(TUNALO_VERSION 2.0.0)
