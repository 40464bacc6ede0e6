import os

# Figures go to an off-screen canvas unless a test asks for a real window.
os.environ.setdefault("MPLBACKEND", "Agg")
