// Text and number conversions land here.
