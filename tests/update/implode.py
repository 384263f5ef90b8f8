"""Implode encoder (ZIP method 6) for the extraction tests, written from the
PKWARE application note: a 4 KiB or 8 KiB sliding dictionary whose output is
coded with two or three Shannon-Fano trees stored in front of the data."""

import heapq

MAX_CODE_LENGTH = 16


class BitWriter:
    """Packs bits least significant first."""

    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def put(self, value, count):
        self.bits |= value << self.count
        self.count += count
        while self.count >= 8:
            self.out.append(self.bits & 0xFF)
            self.bits >>= 8
            self.count -= 8

    def put_code(self, code, length):
        # Codes are built most significant bit first and stored reversed.
        reversed_code = 0
        for i in range(length):
            reversed_code |= ((code >> (length - 1 - i)) & 1) << i
        self.put(reversed_code, length)

    def finish(self):
        if self.count:
            self.out.append(self.bits & 0xFF)
        return bytes(self.out)


def code_lengths(frequencies):
    """Huffman code lengths for every symbol (each gets a code), at most 16
    bits long: frequencies are flattened until the longest code fits."""
    weights = [f + 1 for f in frequencies]
    while True:
        heap = [(w, i, [i]) for i, w in enumerate(weights)]
        heapq.heapify(heap)
        lengths = [0] * len(weights)
        tie = len(weights)
        while len(heap) > 1:
            w1, _, s1 = heapq.heappop(heap)
            w2, _, s2 = heapq.heappop(heap)
            for s in s1 + s2:
                lengths[s] += 1
            heapq.heappush(heap, (w1 + w2, tie, s1 + s2))
            tie += 1
        if max(lengths) <= MAX_CODE_LENGTH:
            return lengths
        weights = [w // 2 + 1 for w in weights]


def shannon_fano_codes(lengths):
    """The codes of the application note: sort by length (stable), then walk
    from the longest code up, adding the increment of the previous length."""
    order = sorted(range(len(lengths)), key=lambda i: lengths[i])
    codes = [0] * len(lengths)
    code = 0
    increment = 0
    last_length = 0
    for i in reversed(order):
        code += increment
        if lengths[i] != last_length:
            last_length = lengths[i]
            increment = 1 << (16 - last_length)
        codes[i] = code >> (16 - lengths[i])
    return codes


def encode_tree(lengths):
    """Runs of equal lengths: high nibble count-1, low nibble length-1,
    after a byte giving the number of run bytes minus one."""
    runs = bytearray()
    i = 0
    while i < len(lengths):
        j = i
        while j < len(lengths) and lengths[j] == lengths[i] and j - i < 16:
            j += 1
        runs.append(((j - i - 1) << 4) | (lengths[i] - 1))
        i = j
    return bytes([len(runs) - 1]) + bytes(runs)


def find_matches(data, window, minimum, maximum, zero_prefix):
    """Greedy LZ77 with hash chains. With zero_prefix a run of zeros at the
    start is coded as a match reaching before the start of the data."""
    tokens = []
    chains = {}
    pos = 0
    n = len(data)
    if zero_prefix:
        run = 0
        while run < n and data[run] == 0 and run < maximum:
            run += 1
        if run >= minimum:
            tokens.append(("match", run, min(window, 100)))
            pos = run
    while pos < n:
        best_length = 0
        best_distance = 0
        key = data[pos:pos + 3]
        if len(key) == 3:
            candidates = chains.get(key, [])
            for start in reversed(candidates[-64:]):
                distance = pos - start
                if distance > window:
                    break
                length = 0
                limit = min(maximum, n - pos)
                while length < limit and data[start + length] == data[pos + length]:
                    length += 1
                if length > best_length:
                    best_length, best_distance = length, distance
                    if length == limit:
                        break
        step = best_length if best_length >= minimum else 1
        for k in range(pos, min(pos + step, n - 2)):
            chains.setdefault(data[k:k + 3], []).append(k)
        if best_length >= minimum:
            tokens.append(("match", best_length, best_distance))
        else:
            tokens.append(("literal", data[pos]))
        pos += step
    return tokens


def implode(data, large_window, literal_tree, zero_prefix=False):
    """Answers the compressed bytes; the general-purpose flags are bit 1
    (8 KiB dictionary) and bit 2 (literal tree) as chosen here."""
    window = 8192 if large_window else 4096
    low_bits = 7 if large_window else 6
    minimum = 3 if literal_tree else 2
    maximum = minimum + 63 + 255
    tokens = find_matches(data, window, minimum, maximum, zero_prefix)

    literal_freq = [0] * 256
    length_freq = [0] * 64
    distance_freq = [0] * 64
    for token in tokens:
        if token[0] == "literal":
            literal_freq[token[1]] += 1
        else:
            length_freq[min(token[1] - minimum, 63)] += 1
            distance_freq[(token[2] - 1) >> low_bits] += 1

    trees = []
    if literal_tree:
        trees.append(code_lengths(literal_freq))
    trees.append(code_lengths(length_freq))
    trees.append(code_lengths(distance_freq))
    header = b"".join(encode_tree(lengths) for lengths in trees)
    codes = [(shannon_fano_codes(lengths), lengths) for lengths in trees]
    if literal_tree:
        literal_codes, length_codes, distance_codes = codes
    else:
        length_codes, distance_codes = codes

    bits = BitWriter()
    for token in tokens:
        if token[0] == "literal":
            bits.put(1, 1)
            if literal_tree:
                bits.put_code(literal_codes[0][token[1]], literal_codes[1][token[1]])
            else:
                bits.put(token[1], 8)
            continue
        _, length, distance = token
        bits.put(0, 1)
        distance -= 1
        bits.put(distance & ((1 << low_bits) - 1), low_bits)
        high = distance >> low_bits
        bits.put_code(distance_codes[0][high], distance_codes[1][high])
        symbol = min(length - minimum, 63)
        bits.put_code(length_codes[0][symbol], length_codes[1][symbol])
        if symbol == 63:
            bits.put(length - minimum - 63, 8)
    return header + bits.finish()
