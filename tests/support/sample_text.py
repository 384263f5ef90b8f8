"""Text of the tests' archives: words drawn at random until a size is
reached, so that it compresses as real text does."""


def word_text(rng, words, size):
    """At least size bytes of the words, each followed by a space."""
    out = []
    total = 0
    while total < size:
        word = rng.choice(words) + " "
        out.append(word)
        total += len(word)
    return "".join(out).encode("ascii")
