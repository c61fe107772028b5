// Converter access and the chart loop land here.
