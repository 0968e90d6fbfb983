# SPDX-License-Identifier: MIT
"""JSON-lines record of everything a zpsim process sends and receives, for tests to read."""
import json
import os
import time

import protocol


class Recorder:
    """Appends one JSON object per line; each line is one write() so that it is complete on
    disk at once and lines of several writers on the same file never interleave."""

    def __init__(self, path, who):
        self.who = who
        self.fd = None
        if path:
            self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)

    def write(self, ev, **fields):
        line = {'t': round(time.time(), 6), 'who': self.who, 'ev': ev}
        line.update(fields)
        if self.fd is not None:
            os.write(self.fd, (json.dumps(line, ensure_ascii=False) + '\n').encode('utf-8'))
        return line

    def packet(self, direction, ptype, body, **fields):
        """direction is 'in' (received) or 'out' (sent)."""
        fields.update(dir=direction, type=ptype,
                      name=protocol.TYPE_NAMES.get(ptype, 'type %d' % ptype),
                      len=len(body) + 4)
        fields.update(protocol.decode(ptype, body))
        fields['hex'] = bytes(body).hex()
        return self.write('pkt', **fields)

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
