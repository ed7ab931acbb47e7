/* The baseline for start-up cost: the smallest CGI program in C, started the same way
   as liraweb. It answers a fixed page and reads nothing. */
#include <string.h>
#include <unistd.h>

int main(void) {
  static const char response[] =
      "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok";
  return write(1, response, strlen(response)) < 0;
}
